#!/usr/bin/python3
"""Lists a Chromium simple cache as the fixture tests expect it, written from Chromium's own
sources (net/disk_cache/simple/simple_entry_format.h, simple_index_file.cc,
net/http/http_response_info.cc), independent of the program's reader.

simple-listing.py CACHE_DIR SENT_TSV OUT_DIR

SENT_TSV (from the browser test) names each URL's document length as the site sent it; the
bodies are not decoded here. Writes OUT_DIR/expected.tsv and OUT_DIR/index-records.tsv.
"""
import datetime
import os
import re
import struct
import sys

INITIAL_MAGIC = 0xFCFB6D1BA7725C30
FINAL_MAGIC = 0xF4FA6F45970D41D8
INDEX_MAGIC = 0x656E74657220796F
HEADER = 24  # SimpleFileHeader: magic, version, key length, key hash, padded to 8
EOF = 24  # SimpleFileEOF: magic, flags, crc32, stream size, padded to 8
HAS_KEY_SHA256 = 2
HAS_EXTRA_FLAGS = 1 << 31  # HttpResponseInfo's flags
HAS_ORIGINAL_RESPONSE_TIME = 1 << 2  # and its extra flags

cache, sent_path, out = sys.argv[1:4]
sent = {}
with open(sent_path, encoding="utf-8") as f:
    for line in f:
        url, length = line.rstrip("\n").split("\t")
        sent[url] = length


def iso(internal):
    """base::Time's internal value (microseconds since 1601) as ISO 8601, or '-'."""
    if not internal:
        return "-"
    t = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=internal)
    return t.strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def entry(name):
    data = open(os.path.join(cache, name), "rb").read()
    magic, version, key_length, _key_hash = struct.unpack_from("<QIII", data, 0)
    assert magic == INITIAL_MAGIC and version == 5, name
    key = data[HEADER:HEADER + key_length].decode()
    magic0, flags0, _crc0, size0 = struct.unpack_from("<QIII", data, len(data) - EOF)
    assert magic0 == FINAL_MAGIC, name
    end0 = len(data) - EOF - (32 if flags0 & HAS_KEY_SHA256 else 0)
    stream0 = data[end0 - size0:end0]
    eof1 = end0 - size0 - EOF
    magic1, _flags1, _crc1, _size1 = struct.unpack_from("<QIII", data, eof1)
    assert magic1 == FINAL_MAGIC, name
    body_stored = eof1 - HEADER - key_length
    # stream 0: a base::Pickle (payload size, then fields aligned to 4) of HttpResponseInfo
    at = 4
    (info_flags,) = struct.unpack_from("<I", stream0, at)
    at += 4
    extra_flags = 0
    if info_flags & HAS_EXTRA_FLAGS:
        (extra_flags,) = struct.unpack_from("<I", stream0, at)
        at += 4
    request_time, response_time = struct.unpack_from("<qq", stream0, at)
    at += 16
    if extra_flags & HAS_ORIGINAL_RESPONSE_TIME:
        at += 8
    (head_length,) = struct.unpack_from("<i", stream0, at)
    head = stream0[at + 4:at + 4 + head_length].decode("latin-1").split("\0")
    fields = {}
    for line in head[1:]:
        if ":" in line:
            name_, value = line.split(":", 1)
            fields.setdefault(name_.strip().lower(), value.strip())
    url = key
    partition = "-"
    m = re.match(r"^(?:\d+/\d+/)?_dk_(?:s_)?(\S+) (\S+) (.*)$", key)
    if m:
        partition, url = m.group(1), m.group(3)
    status = " ".join(head[0].split(" ")[:2])
    return {
        "file": name, "key": key, "url": url, "host": re.sub(r"^[a-z]+://([^/:]+).*$", r"\1", url),
        "partition": partition, "status": status,
        "content_type": fields.get("content-type", "-"), "content_encoding": fields.get("content-encoding", "-"),
        "body_stored": str(body_stored), "body_decoded": sent.get(url, "-"), "decode": "site",
        "alt_or_stream2": "-", "time_created": "-", "time_request": iso(request_time),
        "time_response": iso(response_time), "time_modified": "-", "time_accessed": "-", "time_expires": "-",
        "fetch_count": "-", "checks": "v5",
    }


columns = ("file key url host partition status content_type content_encoding body_stored body_decoded decode "
           "alt_or_stream2 time_created time_request time_response time_modified time_accessed time_expires "
           "fetch_count checks").split()
rows = [entry(n) for n in sorted(os.listdir(cache)) if re.fullmatch(r"[0-9a-f]{16}_0", n)]
with open(os.path.join(out, "expected.tsv"), "w", encoding="utf-8") as f:
    f.write("\t".join(columns) + "\n")
    for row in rows:
        f.write("\t".join(row[c] for c in columns) + "\n")

index = open(os.path.join(cache, "index-dir", "the-real-index"), "rb").read()
payload, _crc, magic, version, count, cache_size = struct.unpack_from("<IIQIQQ", index, 0)
assert magic == INDEX_MAGIC and 7 <= version <= 9
reason, = struct.unpack_from("<I", index, 36)
with open(os.path.join(out, "index-records.tsv"), "w", encoding="utf-8") as f:
    f.write("# payload=%d magic=0x%x version=%d entries=%d cache_size=%d reason=%d\n"
            % (payload, magic, version, count, cache_size, reason))
    f.write("hash\tlast_used\tsize_field\n")
    for i in range(count):
        hash_, last_used, size = struct.unpack_from("<QqQ", index, 40 + 24 * i)
        f.write("%016x\t%s\t0x%x\n" % (hash_, iso(last_used), size))
