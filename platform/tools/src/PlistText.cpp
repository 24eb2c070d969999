#include "PlistText.h"

#include "RegularFile.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <plist/plist.h>
#include <sys/stat.h>

namespace PlatformTools
{
namespace
{
// Property lists that tools read are small; a larger file is not what it claims to be.
const std::uint64_t kMaxPlistBytes = 8u * 1024 * 1024;

// libplist counts dates from Apple's epoch, 2001-01-01.
const long long kAppleEpoch = 978307200;

std::string scalarText(plist_t node, bool& bHandled)
{
    bHandled = true;
    switch (plist_get_node_type(node))
    {
    case PLIST_BOOLEAN:
        return plist_bool_val_is_true(node) ? "1" : "0";
    case PLIST_UINT:
    {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return std::to_string(static_cast<int64_t>(value));
    }
    case PLIST_REAL:
    {
        double value = 0;
        plist_get_real_val(node, &value);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
        if (std::strtod(buffer, nullptr) != value)
            std::snprintf(buffer, sizeof buffer, "%.17g", value);
        return buffer;
    }
    case PLIST_DATE:
    {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const std::time_t t = static_cast<std::time_t>(sec + kAppleEpoch);
        struct tm parts;
        gmtime_r(&t, &parts);
        char buffer[64];
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
        return buffer;
    }
    case PLIST_DATA:
    {
        char* data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        std::string text = "{length = " + std::to_string(length) + ", bytes = 0x";
        static const char digits[] = "0123456789abcdef";
        for (uint64_t i = 0; i < length; ++i)
        {
            const unsigned char byte = static_cast<unsigned char>(data[i]);
            text += digits[byte >> 4];
            text += digits[byte & 0xf];
        }
        std::free(data);
        return text + "}";
    }
    case PLIST_UID:
    {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return std::to_string(value);
    }
    default:
        bHandled = false;
        return std::string();
    }
}

std::string stringOf(plist_t node)
{
    char* value = nullptr;
    if (plist_get_node_type(node) == PLIST_KEY)
        plist_get_key_val(node, &value);
    else
        plist_get_string_val(node, &value);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}
} // namespace

std::string CPlistText::quoted(const std::string& sText)
{
    bool bPlain = !sText.empty();
    for (unsigned char c : sText)
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' ||
              c == '-'))
            bPlain = false;
    if (bPlain)
        return sText;
    std::string result = "\"";
    for (char c : sText)
    {
        if (c == '"' || c == '\\')
            result += '\\';
        if (c == '\n')
        {
            result += "\\n";
            continue;
        }
        result += c;
    }
    return result + "\"";
}

std::string CPlistText::formatNested(void* node, int indent)
{
    const std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
    const std::string inner(static_cast<std::size_t>(indent + 1) * 4, ' ');
    const plist_type type = plist_get_node_type(node);
    if (type == PLIST_STRING || type == PLIST_KEY)
        return quoted(stringOf(node));
    if (type == PLIST_ARRAY)
    {
        const uint32_t count = plist_array_get_size(node);
        if (count == 0)
            return "(\n" + pad + ")";
        std::string text = "(\n";
        for (uint32_t i = 0; i < count; ++i)
            text += inner + formatNested(plist_array_get_item(node, i), indent + 1) +
                    (i + 1 < count ? ",\n" : "\n");
        return text + pad + ")";
    }
    if (type == PLIST_DICT)
    {
        std::string text = "{\n";
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;)
        {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value)
                break;
            text +=
                inner + quoted(key ? key : "") + " = " + formatNested(value, indent + 1) + ";\n";
            std::free(key);
        }
        std::free(it);
        return text + pad + "}";
    }
    bool bHandled = false;
    const std::string text = scalarText(static_cast<plist_t>(node), bHandled);
    if (type == PLIST_DATE)
        return "\"" + text + "\"";
    return bHandled ? text : "<unknown>";
}

std::string CPlistText::format(void* node)
{
    const plist_type type = plist_get_node_type(node);
    if (type == PLIST_STRING || type == PLIST_KEY)
        return stringOf(node);
    return formatNested(node, 0);
}

void* CPlistText::readFile(const std::string& sPath)
{
    struct stat st;
    if (::lstat(sPath.c_str(), &st) != 0 && errno == ENOENT)
        return nullptr;
    const std::string data = CRegularFile::read(sPath, kMaxPlistBytes);
    if (data.empty())
        return nullptr;
    plist_t root = nullptr;
    if (plist_is_binary(data.data(), static_cast<uint32_t>(data.size())))
        plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
    else
        plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
    return root;
}

} // namespace PlatformTools
