#!/usr/bin/env python3
"""Writes a signed xar archive (a flat installer package) on its own, with zlib, hashlib and the
openssl command only, so the tools are checked against packages they did not make.

Usage: xar_sign.py OUTPUT --key KEY --cert CERT [--chain PEM] [--file NAME=PATH]...
                   [--checksum sha1|md5] [--cms-digest sha256|sha1|md5] [--no-cms]
                   [--second-signature CERT] [--signature-at-checksum]
                   [--member-over-padding] [--tsa DIRECTORY [--tsa-time FAKETIME]]

The table of contents gets its checksum at heap offset 0, an RSA PKCS#1 v1.5 signature of that
checksum right after it (<signature style="RSA">, certificates signer first) and a detached CMS
signature of the same checksum (<x-signature style="CMS">). --second-signature adds a second
<signature> element with another certificate over bytes that sign nothing;
--signature-at-checksum makes the signature element name the checksum's own bytes. --tsa asks
the time-stamping authority in DIRECTORY (see timestamp_authority.py) for a token over the CMS
signature value and adds it as the unsigned attribute id-aa-timeStampToken; the reserved room
after the CMS signature is filled with zero bytes, and --member-over-padding adds a member
whose data is that room.
"""
import argparse
import base64
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import timestamp_authority  # noqa: E402

HEADER_VALUE = {"sha1": 1, "md5": 2}
TIMESTAMP_ROOM = 8192
TIMESTAMP_TOKEN_OID = bytes.fromhex("060b2a864886f70d010910020e")  # 1.2.840.113549.1.9.16.2.14


def openssl(*args, data=None):
    result = subprocess.run(("openssl",) + args, input=data, capture_output=True)
    if result.returncode != 0:
        sys.exit("openssl %s: %s" % (args[0], result.stderr.decode(errors="replace")))
    return result.stdout


# Just enough DER to add an unsigned attribute to a CMS SignerInfo.
def der_length(length):
    if length < 0x80:
        return bytes([length])
    octets = length.to_bytes((length.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(octets)]) + octets


def der(tag, content):
    return bytes([tag]) + der_length(len(content)) + content


def children(data):
    """The (tag, content) pairs of a run of DER elements."""
    items, i = [], 0
    while i < len(data):
        tag, first = data[i], data[i + 1]
        if first < 0x80:
            length, start = first, i + 2
        else:
            count = first & 0x7F
            length, start = int.from_bytes(data[i + 2:i + 2 + count], "big"), i + 2 + count
        items.append((tag, data[start:start + length]))
        i = start + length
    return items


def encode(items):
    return b"".join(der(tag, content) for tag, content in items)


def signer_info_path(cms):
    """ContentInfo -> [0] -> SignedData -> signerInfos SET -> the one SignerInfo."""
    (_, content_info), = children(cms)
    oid, explicit = children(content_info)
    (_, signed_data), = children(explicit[1])
    parts = children(signed_data)
    signer_infos = parts[-1]
    (_, signer_info), = children(signer_infos[1])
    return oid, parts, signer_info


def signature_value(cms):
    _, _, signer_info = signer_info_path(cms)
    return [content for tag, content in children(signer_info) if tag == 0x04][0]


def add_timestamp(cms, token):
    oid, parts, signer_info = signer_info_path(cms)
    attribute = der(0x30, TIMESTAMP_TOKEN_OID + der(0x31, token))
    signer_info = encode(children(signer_info) + [(0xA1, attribute)])
    parts[-1] = (0x31, der(0x30, signer_info))
    signed_data = der(0x30, encode(parts))
    return der(0x30, der(oid[0], oid[1]) + der(0xA0, signed_data))


def pem_certificates(path):
    text = open(path).read()
    blocks = text.split("-----BEGIN CERTIFICATE-----")[1:]
    return [base64.b64decode("".join(block.split("-----END CERTIFICATE-----")[0].split()))
            for block in blocks]


def key_info(certificates):
    return ('<KeyInfo xmlns="http://www.w3.org/2000/09/xmldsig#"><X509Data>' +
            "".join("<X509Certificate>%s</X509Certificate>" % base64.b64encode(c).decode()
                    for c in certificates) + "</X509Data></KeyInfo>")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--key", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--chain")
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("--checksum", default="sha1", choices=sorted(HEADER_VALUE))
    parser.add_argument("--cms-digest", default="sha256")
    parser.add_argument("--no-cms", action="store_true")
    parser.add_argument("--second-signature")
    parser.add_argument("--signature-at-checksum", action="store_true")
    parser.add_argument("--member-over-padding", action="store_true")
    parser.add_argument("--tsa")
    parser.add_argument("--tsa-time")
    options = parser.parse_args()

    certificates = pem_certificates(options.cert)
    if options.chain:
        certificates += pem_certificates(options.chain)
    work = tempfile.TemporaryDirectory()

    def path(name):
        return os.path.join(work.name, name)

    def cms_sign(checksum):
        with open(path("checksum"), "wb") as stream:
            stream.write(checksum)
        arguments = ["cms", "-sign", "-binary", "-nosmimecap", "-md", options.cms_digest,
                     "-signer", options.cert, "-inkey", options.key, "-outform", "DER",
                     "-in", path("checksum")]
        if options.chain:
            arguments += ["-certfile", options.chain]
        return openssl(*arguments)

    digest_size = hashlib.new(options.checksum).digest_size
    rsa_size = len(openssl("pkeyutl", "-sign", "-inkey", options.key, "-pkeyopt",
                           "digest:" + options.checksum, data=bytes(digest_size)))
    cms_size = 0 if options.no_cms else len(cms_sign(bytes(digest_size)))
    if options.tsa:
        cms_size += TIMESTAMP_ROOM

    rsa_offset = 0 if options.signature_at_checksum else digest_size
    offset = digest_size + rsa_size + cms_size
    second = ""
    extra = b""
    if options.second_signature:
        second = ('<signature style="RSA"><offset>%d</offset><size>%d</size>%s</signature>' %
                  (offset, rsa_size, key_info(pem_certificates(options.second_signature))))
        extra = b"\x5a" * rsa_size
        offset += rsa_size

    files, heap_members, file_id = [], b"", 1
    members = [(entry.split("=", 1)[0], open(entry.split("=", 1)[1], "rb").read())
               for entry in options.file]
    for name, data in members:
        archived = zlib.compress(data)
        files.append(
            '<file id="%d"><name>%s</name><type>file</type><mode>0644</mode><data>'
            "<offset>%d</offset><length>%d</length><size>%d</size>"
            '<encoding style="application/x-gzip"/>'
            '<archived-checksum style="sha1">%s</archived-checksum>'
            '<extracted-checksum style="sha1">%s</extracted-checksum></data></file>' %
            (file_id, name, offset + len(heap_members), len(archived), len(data),
             hashlib.sha1(archived).hexdigest(), hashlib.sha1(data).hexdigest()))
        heap_members += archived
        file_id += 1
    if options.member_over_padding:
        padding_at = digest_size + rsa_size + cms_size - TIMESTAMP_ROOM // 2
        zeros = bytes(TIMESTAMP_ROOM // 2)
        files.append(
            '<file id="%d"><name>Zeros</name><type>file</type><mode>0644</mode><data>'
            "<offset>%d</offset><length>%d</length><size>%d</size>"
            '<encoding style="application/octet-stream"/>'
            '<archived-checksum style="sha1">%s</archived-checksum>'
            '<extracted-checksum style="sha1">%s</extracted-checksum></data></file>' %
            (file_id, padding_at, len(zeros), len(zeros), hashlib.sha1(zeros).hexdigest(),
             hashlib.sha1(zeros).hexdigest()))

    cms_element = "" if options.no_cms else (
        '<x-signature style="CMS"><offset>%d</offset><size>%d</size>%s</x-signature>' %
        (digest_size + rsa_size, cms_size, key_info(certificates)))
    toc = ('<?xml version="1.0" encoding="UTF-8"?>\n<xar><toc>'
           "<creation-time>2024-01-01T00:00:00</creation-time>"
           '<checksum style="%s"><offset>0</offset><size>%d</size></checksum>'
           '<signature style="RSA"><offset>%d</offset><size>%d</size>%s</signature>'
           "%s%s%s</toc></xar>\n" %
           (options.checksum, digest_size, rsa_offset, rsa_size, key_info(certificates),
            cms_element, second, "".join(files))).encode()
    compressed = zlib.compress(toc)
    checksum = hashlib.new(options.checksum, compressed).digest()
    rsa = openssl("pkeyutl", "-sign", "-inkey", options.key, "-pkeyopt",
                  "digest:" + options.checksum, data=checksum)
    cms = b""
    if not options.no_cms:
        cms = cms_sign(checksum)
        if options.tsa:
            query = timestamp_authority.query(signature_value(cms))
            response = timestamp_authority.reply(query, options.tsa, options.tsa_time)
            cms = add_timestamp(cms, timestamp_authority.token(response))
        if len(cms) > cms_size:
            sys.exit("the CMS signature outgrew its room")
        cms += bytes(cms_size - len(cms))
    header = struct.pack(">4sHHQQI", b"xar!", 28, 1, len(compressed), len(toc),
                         HEADER_VALUE[options.checksum])
    with open(options.output, "wb") as stream:
        stream.write(header + compressed + checksum + rsa + cms + extra + heap_members)


if __name__ == "__main__":
    main()
