#include "Internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace
{
struct Parts
{
    bool hasScheme = false;
    std::string scheme;
    bool hasAuthority = false;
    std::string authority;
    std::string path;
    bool hasQuery = false;
    std::string query;
    bool hasFragment = false;
    std::string fragment;
};

// Splits a URL reference into its RFC 3986 components.
Parts parse(const std::string& s)
{
    Parts p;
    size_t i = 0;
    if (!s.empty() && std::isalpha(static_cast<unsigned char>(s[0])))
    {
        size_t j = 1;
        while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '+' ||
                                s[j] == '-' || s[j] == '.'))
            ++j;
        if (j < s.size() && s[j] == ':')
        {
            p.hasScheme = true;
            p.scheme = s.substr(0, j);
            i = j + 1;
        }
    }
    if (s.compare(i, 2, "//") == 0)
    {
        p.hasAuthority = true;
        size_t end = s.find_first_of("/?#", i + 2);
        if (end == std::string::npos)
            end = s.size();
        p.authority = s.substr(i + 2, end - i - 2);
        i = end;
    }
    size_t end = s.find_first_of("?#", i);
    if (end == std::string::npos)
        end = s.size();
    p.path = s.substr(i, end - i);
    i = end;
    if (i < s.size() && s[i] == '?')
    {
        end = s.find('#', i);
        if (end == std::string::npos)
            end = s.size();
        p.hasQuery = true;
        p.query = s.substr(i + 1, end - i - 1);
        i = end;
    }
    if (i < s.size() && s[i] == '#')
    {
        p.hasFragment = true;
        p.fragment = s.substr(i + 1);
    }
    return p;
}

std::string compose(const Parts& p)
{
    std::string s;
    if (p.hasScheme)
        s += p.scheme + ":";
    if (p.hasAuthority)
        s += "//" + p.authority;
    s += p.path;
    if (p.hasQuery)
        s += "?" + p.query;
    if (p.hasFragment)
        s += "#" + p.fragment;
    return s;
}

std::string removeDotSegments(std::string in)
{
    std::string out;
    while (!in.empty())
    {
        if (in.compare(0, 3, "../") == 0)
            in.erase(0, 3);
        else if (in.compare(0, 2, "./") == 0)
            in.erase(0, 2);
        else if (in.compare(0, 3, "/./") == 0)
            in.erase(0, 2);
        else if (in == "/.")
            in = "/";
        else if (in.compare(0, 4, "/../") == 0 || in == "/..")
        {
            in = in.size() == 3 ? std::string("/") : in.substr(3);
            size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        }
        else if (in == "." || in == "..")
            in.clear();
        else
        {
            size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            if (next == std::string::npos)
                next = in.size();
            out += in.substr(0, next);
            in.erase(0, next);
        }
    }
    return out;
}

Parts resolve(const Parts& base, const Parts& ref)
{
    Parts t;
    if (ref.hasScheme)
    {
        t = ref;
        t.path = removeDotSegments(ref.path);
        return t;
    }
    t.hasScheme = base.hasScheme;
    t.scheme = base.scheme;
    if (ref.hasAuthority)
    {
        t.hasAuthority = true;
        t.authority = ref.authority;
        t.path = removeDotSegments(ref.path);
        t.hasQuery = ref.hasQuery;
        t.query = ref.query;
    }
    else
    {
        t.hasAuthority = base.hasAuthority;
        t.authority = base.authority;
        if (ref.path.empty())
        {
            t.path = base.path;
            t.hasQuery = ref.hasQuery || base.hasQuery;
            t.query = ref.hasQuery ? ref.query : base.query;
        }
        else
        {
            if (ref.path[0] == '/')
                t.path = removeDotSegments(ref.path);
            else
            {
                std::string merged;
                if (base.hasAuthority && base.path.empty())
                    merged = "/" + ref.path;
                else
                {
                    size_t cut = base.path.rfind('/');
                    merged =
                        (cut == std::string::npos ? std::string() : base.path.substr(0, cut + 1)) +
                        ref.path;
                }
                t.path = removeDotSegments(merged);
            }
            t.hasQuery = ref.hasQuery;
            t.query = ref.query;
        }
    }
    t.hasFragment = ref.hasFragment;
    t.fragment = ref.fragment;
    return t;
}

bool pathCharacterAllowed(unsigned char c)
{
    return std::isalnum(c) || std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr;
}

std::string escapePath(const std::string& raw)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw)
    {
        if (c && pathCharacterAllowed(c))
            out.push_back(static_cast<char>(c));
        else
        {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes every escape; false for a malformed one.
bool unescape(const std::string& in, std::string& out, const std::u16string* keep = nullptr)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i)
    {
        if (in[i] != '%')
        {
            out.push_back(in[i]);
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        const char c = static_cast<char>(hi * 16 + lo);
        if (keep && static_cast<unsigned char>(c) < 0x80 &&
            keep->find(static_cast<char16_t>(c)) != std::u16string::npos)
            out.append(in, i, 3);
        else
            out.push_back(c);
        i += 2;
    }
    return true;
}

bool validUrlString(const std::string& s)
{
    size_t hashes = 0;
    for (size_t i = 0; i < s.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '%')
        {
            if (i + 2 >= s.size() || hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0)
                return false;
            i += 2;
            continue;
        }
        if (c == '#' && ++hashes > 1)
            return false;
        if (!(std::isalnum(c) || std::strchr("-._~:/?#[]@!$&'()*+,;=", c)) || c == 0)
            return false;
    }
    return true;
}

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::string currentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size()))
    {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}
} // namespace

struct __CFURL : __CFRuntimeBase
{
    __CFURL(std::string string, CFURLRef base)
        : __CFRuntimeBase(cf::kURLTypeID), m_string(std::move(string)),
          m_base(base ? static_cast<CFURLRef>(CFRetain(base)) : nullptr),
          m_cfString(cf::createString(m_string)), m_parts(parse(m_string))
    {
    }
    ~__CFURL() override
    {
        if (m_base)
            CFRelease(m_base);
        CFRelease(m_cfString);
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        auto o = static_cast<const __CFURL*>(other);
        if (m_string != o->m_string)
            return false;
        if (!m_base || !o->m_base)
            return m_base == o->m_base;
        return CFEqual(m_base, o->m_base);
    }
    CFHashCode hash() const override { return cf::hashBytes(m_string.data(), m_string.size()); }
    std::string describe() const override
    {
        return m_base ? m_string + " -- " + cf::describe(m_base) : m_string;
    }
    Parts absoluteParts() const;

    const std::string m_string;
    const CFURLRef m_base;
    const CFStringRef m_cfString;
    const Parts m_parts;
};

Parts __CFURL::absoluteParts() const
{
    if (!m_base)
        return m_parts;
    auto base = static_cast<const __CFURL*>(m_base);
    return resolve(base->absoluteParts(), m_parts);
}

namespace
{
const __CFURL* url(CFURLRef u, const char* caller)
{
    return cf::as<__CFURL>(u, cf::kURLTypeID, caller);
}

CFURLRef cwdURL()
{
    std::string cwd = currentDirectory();
    if (cwd.empty() || cwd.back() != '/')
        cwd += '/';
    return new __CFURL("file://" + escapePath(cwd), nullptr);
}

CFURLRef fileURL(const std::string& rawPath, bool isDirectory)
{
    if (rawPath.empty())
        return nullptr;
    std::string path = rawPath;
    if (isDirectory && path.back() != '/')
        path += '/';
    if (path[0] == '/')
        return new __CFURL("file://" + escapePath(path), nullptr);
    // Relative paths stay relative to the current directory, as on Apple systems.
    CFURLRef base = cwdURL();
    std::string escaped = escapePath(path);
    // A first segment with a colon would read as a scheme.
    if (escaped.find(':') < escaped.find('/'))
        escaped = "./" + escaped;
    CFURLRef result = new __CFURL(escaped, base);
    CFRelease(base);
    return result;
}

// The decoded file system path of a URL, or false when it is not a file URL.
bool decodedPath(const Parts& p, std::string& path)
{
    if (p.hasScheme && !equalsIgnoringCase(p.scheme, "file"))
        return false;
    if (p.hasAuthority && !p.authority.empty() && !equalsIgnoringCase(p.authority, "localhost"))
        return false;
    if (!unescape(p.path, path) || path.empty() || path.find('\0') != std::string::npos)
        return false;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return true;
}

std::string lastComponent(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    if (trimmed == "/")
        return trimmed;
    size_t cut = trimmed.rfind('/');
    return cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
}

CFStringRef stringFromBytes(const std::string& bytes, CFStringEncoding encoding)
{
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                   static_cast<CFIndex>(bytes.size()), encoding, false);
}
} // namespace

namespace cf
{
bool fileUrlPath(CFURLRef u, std::string& path)
{
    const __CFURL* object = url(u, "CFURL");
    return object && decodedPath(object->absoluteParts(), path);
}
} // namespace cf

extern "C"
{

    CFTypeID CFURLGetTypeID(void)
    {
        return cf::kURLTypeID;
    }

    CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                     CFIndex bufLen, Boolean isDirectory)
    {
        if (!buffer || bufLen <= 0)
            return nullptr;
        std::string path(reinterpret_cast<const char*>(buffer), static_cast<size_t>(bufLen));
        // A terminating NUL counted in bufLen is not part of the path.
        path.erase(std::find(path.begin(), path.end(), '\0'), path.end());
        return fileURL(path, isDirectory);
    }

    CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath,
                                           CFURLPathStyle pathStyle, Boolean isDirectory)
    {
        std::string path;
        if (!cf::utf8Of(filePath, path))
            return nullptr;
        if (pathStyle == kCFURLWindowsPathStyle)
        {
            std::replace(path.begin(), path.end(), '\\', '/');
            if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                path[1] == ':')
                path = "/" + path;
        }
        else if (pathStyle != kCFURLPOSIXPathStyle)
            return nullptr;
        return fileURL(path, isDirectory);
    }

    CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL)
    {
        std::string s;
        if (!cf::utf8Of(URLString, s) || !validUrlString(s))
            return nullptr;
        if (baseURL && !url(baseURL, "CFURLCreateWithString"))
            return nullptr;
        // An absolute URL ignores its base.
        return new __CFURL(s, parse(s).hasScheme ? nullptr : baseURL);
    }

    CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL)
    {
        const __CFURL* u = url(relativeURL, "CFURLCopyAbsoluteURL");
        if (!u)
            return nullptr;
        if (!u->m_base)
            return static_cast<CFURLRef>(CFRetain(u));
        return new __CFURL(compose(u->absoluteParts()), nullptr);
    }

    CFURLRef CFURLCreateFilePathURL(CFAllocatorRef, CFURLRef anURL, CFErrorRef* error)
    {
        const __CFURL* u = url(anURL, "CFURLCreateFilePathURL");
        std::string path;
        if (!u || !decodedPath(u->absoluteParts(), path))
        {
            cf::setError(error, kCFErrorDomainCocoa, 262, "The URL is not a file URL.");
            return nullptr;
        }
        Parts p = u->absoluteParts();
        if (!p.path.empty() && p.path[0] != '/')
        {
            cf::setError(error, kCFErrorDomainCocoa, 262, "The file URL has no absolute path.");
            return nullptr;
        }
        return new __CFURL("file://" + p.path, nullptr);
    }

    CFStringRef CFURLGetString(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLGetString");
        return u ? u->m_cfString : nullptr;
    }

    CFURLRef CFURLGetBaseURL(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLGetBaseURL");
        return u ? u->m_base : nullptr;
    }

    Boolean CFURLGetFileSystemRepresentation(CFURLRef anURL, Boolean resolveAgainstBase,
                                             UInt8* buffer, CFIndex maxBufLen)
    {
        const __CFURL* u = url(anURL, "CFURLGetFileSystemRepresentation");
        std::string path;
        if (!u || !buffer ||
            !decodedPath(resolveAgainstBase ? u->absoluteParts() : u->m_parts, path) ||
            static_cast<CFIndex>(path.size()) + 1 > maxBufLen)
            return false;
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return true;
    }

    CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle)
    {
        const __CFURL* u = url(anURL, "CFURLCopyFileSystemPath");
        std::string path;
        if (!u || !unescape(u->m_parts.path, path))
            return nullptr;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (pathStyle == kCFURLWindowsPathStyle)
        {
            if (path.size() >= 3 && path[0] == '/' && path[2] == ':')
                path.erase(0, 1);
            std::replace(path.begin(), path.end(), '/', '\\');
        }
        else if (pathStyle != kCFURLPOSIXPathStyle)
            return nullptr;
        return cf::createString(path);
    }

    CFStringRef CFURLCopyScheme(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLCopyScheme");
        if (!u)
            return nullptr;
        Parts p = u->absoluteParts();
        return p.hasScheme ? cf::createString(p.scheme) : nullptr;
    }

    CFStringRef CFURLCopyHostName(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLCopyHostName");
        if (!u)
            return nullptr;
        Parts p = u->absoluteParts();
        if (!p.hasAuthority)
            return nullptr;
        std::string host = p.authority;
        size_t at = host.rfind('@');
        if (at != std::string::npos)
            host.erase(0, at + 1);
        if (!host.empty() && host[0] == '[')
            host = host.substr(1, host.find(']') - 1);
        else if (host.find(':') != std::string::npos)
            host.erase(host.find(':'));
        std::string decoded;
        return unescape(host, decoded) ? cf::createString(decoded) : nullptr;
    }

    CFStringRef CFURLCopyPath(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLCopyPath");
        return u ? cf::createString(u->m_parts.path) : nullptr;
    }

    CFStringRef CFURLCopyLastPathComponent(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLCopyLastPathComponent");
        std::string decoded;
        if (!u || !unescape(lastComponent(u->m_parts.path), decoded))
            return nullptr;
        return cf::createString(decoded);
    }

    CFStringRef CFURLCopyPathExtension(CFURLRef anURL)
    {
        CFStringRef last = CFURLCopyLastPathComponent(anURL);
        if (!last)
            return nullptr;
        const std::string name = cf::utf8OrEmpty(last);
        CFRelease(last);
        size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
            return nullptr;
        return cf::createString(name.substr(dot + 1));
    }

    Boolean CFURLHasDirectoryPath(CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLHasDirectoryPath");
        if (!u)
            return false;
        const std::string path = u->absoluteParts().path;
        return !path.empty() && path.back() == '/';
    }

    CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef anURL,
                                                   CFStringRef pathComponent, Boolean isDirectory)
    {
        const __CFURL* u = url(anURL, "CFURLCreateCopyAppendingPathComponent");
        std::string component;
        if (!u || !cf::utf8Of(pathComponent, component))
            return nullptr;
        Parts p = u->absoluteParts();
        if (p.path.empty() || p.path.back() != '/')
            p.path += '/';
        p.path += escapePath(component);
        if (isDirectory && p.path.back() != '/')
            p.path += '/';
        return new __CFURL(compose(p), nullptr);
    }

    CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef anURL)
    {
        const __CFURL* u = url(anURL, "CFURLCreateCopyDeletingLastPathComponent");
        if (!u)
            return nullptr;
        Parts p = u->absoluteParts();
        std::string path = p.path;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        size_t cut = path.rfind('/');
        p.path = cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
        p.hasQuery = p.hasFragment = false;
        return new __CFURL(compose(p), nullptr);
    }

    CFStringRef CFURLCreateStringByReplacingPercentEscapes(CFAllocatorRef allocator,
                                                           CFStringRef originalString,
                                                           CFStringRef charactersToLeaveEscaped)
    {
        return CFURLCreateStringByReplacingPercentEscapesUsingEncoding(
            allocator, originalString, charactersToLeaveEscaped, kCFStringEncodingUTF8);
    }

    CFStringRef
    CFURLCreateStringByReplacingPercentEscapesUsingEncoding(CFAllocatorRef, CFStringRef origString,
                                                            CFStringRef charsToLeaveEscaped,
                                                            CFStringEncoding encoding)
    {
        std::string in;
        if (!cf::utf8Of(origString, in))
            return nullptr;
        // As on Apple systems, NULL means "replace nothing".
        if (!charsToLeaveEscaped)
            return CFStringCreateCopy(nullptr, origString);
        const std::u16string& keep = cf::utf16Of(charsToLeaveEscaped);
        std::string decoded;
        if (!unescape(in, decoded, &keep))
            return nullptr;
        return stringFromBytes(decoded, encoding);
    }

} // extern "C"
