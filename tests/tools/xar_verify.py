#!/usr/bin/env python3
"""Checks the signature of a xar archive (a flat installer package) on its own, with zlib,
hashlib and the openssl command only, so the tools' own reader is not trusted to check itself.

Usage: xar_verify.py ARCHIVE [CA_FILE]

Exit 0: the table-of-contents checksum, the RSA signature over it (with the key of the first
certificate in the table of contents) and every member's checksums hold, and, with CA_FILE, the
certificate chain leads to a certificate in that file. A time-stamp token in the CMS signature
must cover that signature's value and verify (against CA_FILE when given). Exit 2: the archive carries no signature.
Exit 1: anything else; the reason goes to stdout.
"""
import base64
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib


def fail(message):
    print(message)
    sys.exit(1)


def number(element, name):
    child = element.find(name)
    if child is None or not (child.text or "").isdigit():
        fail("missing or bad <%s>" % name)
    return int(child.text)


def openssl(*args):
    result = subprocess.run(("openssl",) + args, capture_output=True)
    return result.returncode == 0, result.stdout.decode(errors="replace")


def main():
    if len(sys.argv) not in (2, 3):
        fail(__doc__)
    with open(sys.argv[1], "rb") as stream:
        data = stream.read()
    if len(data) < 28:
        fail("too short for a xar header")
    magic, header_size, _version, toc_compressed, toc_size, algorithm = struct.unpack(
        ">4sHHQQI", data[:28])
    if magic != b"xar!":
        fail("not a xar archive")
    styles = {1: "sha1", 2: "md5"}
    if algorithm not in styles:
        fail("unexpected header checksum algorithm %d" % algorithm)
    compressed = data[header_size:header_size + toc_compressed]
    try:
        toc_text = zlib.decompress(compressed)
    except zlib.error as error:
        fail("table of contents does not decompress: %s" % error)
    if len(toc_text) != toc_size:
        fail("table of contents has %d bytes, the header says %d" % (len(toc_text), toc_size))
    try:
        toc = ET.fromstring(toc_text).find("toc")
    except ET.ParseError as error:
        fail("table of contents is not XML: %s" % error)
    heap = header_size + toc_compressed

    checksum = toc.find("checksum")
    if checksum is None or checksum.get("style") != styles[algorithm]:
        fail("checksum element missing or not %s" % styles[algorithm])
    offset, size = number(checksum, "offset"), number(checksum, "size")
    stored = data[heap + offset:heap + offset + size]
    computed = hashlib.new(styles[algorithm], compressed).digest()
    if stored != computed:
        fail("table-of-contents checksum mismatch")

    for member in toc.iter("file"):
        entry = member.find("data")
        if entry is None:
            continue
        start = heap + number(entry, "offset")
        archived = data[start:start + number(entry, "length")]
        if len(archived) != number(entry, "length"):
            fail("member data beyond the end of the archive")
        for name, payload in (("archived-checksum", lambda: archived),
                              ("extracted-checksum", lambda: extracted(entry, archived))):
            element = entry.find(name)
            if element is None:
                fail("member without %s" % name)
            digest = hashlib.new(element.get("style"), payload()).hexdigest()
            if digest != (element.text or "").strip().lower():
                fail("%s mismatch for %s" % (name, member.findtext("name")))

    signature = toc.find("signature")
    if signature is None:
        print("no signature")
        sys.exit(2)
    if signature.get("style") != "RSA":
        fail("unexpected signature style %r" % signature.get("style"))
    offset, size = number(signature, "offset"), number(signature, "size")
    signed = data[heap + offset:heap + offset + size]
    certificates = [base64.b64decode("".join(element.text.split()))
                    for element in signature.iter()
                    if element.tag.endswith("}X509Certificate") or element.tag == "X509Certificate"]
    if not certificates:
        fail("no certificate in the signature")

    timestamped = False
    with tempfile.TemporaryDirectory() as work:
        def path(name):
            return os.path.join(work, name)
        for index, der in enumerate(certificates):
            with open(path("c%d.der" % index), "wb") as stream:
                stream.write(der)
            ok, pem = openssl("x509", "-inform", "DER", "-in", path("c%d.der" % index))
            if not ok:
                fail("certificate %d is not DER X.509" % index)
            with open(path("c%d.pem" % index), "w") as stream:
                stream.write(pem)
        ok, key = openssl("x509", "-in", path("c0.pem"), "-pubkey", "-noout")
        with open(path("key.pem"), "w") as stream:
            stream.write(key)
        with open(path("checksum"), "wb") as stream:
            stream.write(computed)
        with open(path("signature"), "wb") as stream:
            stream.write(signed)
        # The signature covers the checksum bytes, as a PKCS#1 v1.5 DigestInfo of the
        # checksum's own algorithm.
        ok, _ = openssl("pkeyutl", "-verify", "-pubin", "-inkey", path("key.pem"),
                        "-pkeyopt", "digest:" + styles[algorithm],
                        "-in", path("checksum"), "-sigfile", path("signature"))
        if not ok:
            fail("RSA signature does not verify")
        # Beside it a detached CMS signature of the same checksum, with SHA-256.
        cms = toc.find("x-signature")
        if cms is not None:
            if cms.get("style") != "CMS":
                fail("unexpected x-signature style %r" % cms.get("style"))
            offset, size = number(cms, "offset"), number(cms, "size")
            cms_bytes = data[heap + offset:heap + offset + size]
            # A time-stamped signature leaves zero bytes after itself in its room.
            _, header, length = der_element(cms_bytes)
            if any(cms_bytes[header + length:]):
                fail("bytes after the CMS signature")
            cms_bytes = cms_bytes[:header + length]
            with open(path("cms.der"), "wb") as stream:
                stream.write(cms_bytes)
            ok, _ = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", path("cms.der"),
                            "-content", path("checksum"), "-noverify", "-out", os.devnull)
            if not ok:
                fail("CMS signature does not verify")
            ok, dump = openssl("cms", "-cmsout", "-print", "-inform", "DER", "-in", path("cms.der"))
            if "algorithm: sha256" not in dump:
                fail("CMS signature does not use SHA-256")
            # Its certificates are covered by neither signature: they must be the signed chain.
            ok, pems = openssl("pkcs7", "-inform", "DER", "-in", path("cms.der"), "-print_certs")
            carried = [base64.b64decode("".join(block.split("-----")[0].split()))
                       for block in pems.split("-----BEGIN CERTIFICATE-----")[1:]]
            if not ok or sorted(carried) != sorted(certificates):
                fail("CMS signature carries other certificates than the table of contents")
            stamp = timestamp_token(cms_bytes)
            if stamp is not None:
                with open(path("token.der"), "wb") as stream:
                    stream.write(stamp[1])
                with open(path("signature-value"), "wb") as stream:
                    stream.write(stamp[0])
                arguments = ["ts", "-verify", "-token_in", "-in", path("token.der"),
                             "-data", path("signature-value")]
                if len(sys.argv) == 3:
                    arguments += ["-CAfile", sys.argv[2]]
                ok, output = openssl(*arguments)
                if not ok:
                    fail("timestamp does not verify: " + output)
                timestamped = True
        if len(sys.argv) == 3:
            with open(path("chain.pem"), "w") as stream:
                for index in range(1, len(certificates)):
                    with open(path("c%d.pem" % index)) as certificate:
                        stream.write(certificate.read())
            arguments = ["verify", "-CAfile", sys.argv[2]]
            if len(certificates) > 1:
                arguments += ["-untrusted", path("chain.pem")]
            ok, output = openssl(*arguments, path("c0.pem"))
            if not ok:
                fail("certificate chain does not verify: " + output)
        _, subject = openssl("x509", "-in", path("c0.pem"), "-noout", "-subject",
                             "-nameopt", "utf8,sep_comma_plus")
    print("signed by " + subject.strip())
    if timestamped:
        print("timestamp verified")


def der_element(data, at=0):
    """(tag, header length, content length) of the DER element at an offset."""
    first = data[at + 1]
    if first < 0x80:
        return data[at], 2, first
    count = first & 0x7F
    return data[at], 2 + count, int.from_bytes(data[at + 2:at + 2 + count], "big")


def der_children(data):
    items, at = [], 0
    while at < len(data):
        tag, header, length = der_element(data, at)
        items.append((tag, data[at + header:at + header + length]))
        at += header + length
    return items


def timestamp_token(cms):
    """(signature value, time-stamp token) of the CMS signature's one signer, or None."""
    (_, content_info), = der_children(cms)
    _, explicit = der_children(content_info)
    (_, signed_data), = der_children(explicit[1])
    (_, signer_info), = der_children(der_children(signed_data)[-1][1])
    parts = der_children(signer_info)
    value = [content for tag, content in parts if tag == 0x04][0]
    for tag, attributes in parts:
        if tag != 0xA1:
            continue
        for _, attribute in der_children(attributes):
            (_, oid), (_, values) = der_children(attribute)
            if oid == bytes.fromhex("2a864886f70d010910020e"):
                (tag, token), = der_children(values)
                return value, bytes([tag]) + der_length(len(token)) + token
    return None


def der_length(length):
    if length < 0x80:
        return bytes([length])
    octets = length.to_bytes((length.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(octets)]) + octets


def extracted(entry, archived):
    encoding = entry.find("encoding")
    if encoding is not None and encoding.get("style") == "application/x-gzip":
        try:
            return zlib.decompress(archived)
        except zlib.error:
            fail("member data does not decompress")
    return archived


if __name__ == "__main__":
    main()
