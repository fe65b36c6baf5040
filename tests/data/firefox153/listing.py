#!/usr/bin/env python3
# Writes the expected listing of a Firefox 153 sample, read independently of Tidewrack:
# the version 4 trailer, AES-256-GCM with the key from prefs.js for an encrypted entry,
# every hash checked, gzip bodies decoded. Needs python3-cryptography.
# Usage: listing.py PROFILE > expected.tsv
import base64, gzip, os, re, struct, sys, time
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

CHUNK, OVERHEAD, METABLOCK = 256 * 1024, 28, 2**64 - 1

def lookup2(k):
    def mix(a, b, c):
        M = 0xFFFFFFFF
        for s1, s2, s3 in ((13, 8, 13), (12, 16, 5), (3, 10, 15)):
            a = (a - b - c) & M; a ^= c >> s1
            b = (b - c - a) & M; b ^= (a << s2) & M
            c = (c - a - b) & M; c ^= b >> s3
        return a, b, c
    a = b = 0x9e3779b9; c = 0; n = len(k); i = 0
    while n - i >= 12:
        a = (a + int.from_bytes(k[i:i+4], 'little')) & 0xFFFFFFFF
        b = (b + int.from_bytes(k[i+4:i+8], 'little')) & 0xFFFFFFFF
        c = (c + int.from_bytes(k[i+8:i+12], 'little')) & 0xFFFFFFFF
        a, b, c = mix(a, b, c); i += 12
    rest = k[i:] + bytes(12)
    c = (c + n + (int.from_bytes(rest[8:11], 'little') << 8)) & 0xFFFFFFFF
    b = (b + int.from_bytes(rest[4:8], 'little')) & 0xFFFFFFFF
    a = (a + int.from_bytes(rest[0:4], 'little')) & 0xFFFFFFFF
    return mix(a, b, c)[2]

def open_block(key, number, blob, aad=b''):
    ct, tag, nonce = blob[:-28], blob[-28:-12], blob[-12:]
    return AESGCM(key).decrypt(nonce, ct + tag, struct.pack('<Q', number) + aad)

def iso(t):
    return '-' if t in (0, 0xFFFFFFFF) else time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(t))

profile = sys.argv[1]
key = None
if os.path.exists(profile + '/prefs.js'):
    m = re.search(r'"browser\.cache\.disk\.encryption\.key", "([^"]+)"', open(profile + '/prefs.js').read())
    key = base64.b64decode(m.group(1)) if m else None
cols = ['file', 'key', 'url', 'host', 'partition', 'status', 'content_type', 'content_encoding', 'body_stored',
        'body_decoded', 'decode', 'alt_or_stream2', 'time_created', 'time_request', 'time_response',
        'time_modified', 'time_accessed', 'time_expires', 'fetch_count', 'checks']
print('\t'.join(cols))
folder = profile + '/cache2/entries'
for name in sorted(os.listdir(folder)):
    b = open(os.path.join(folder, name), 'rb').read()
    version, word = struct.unpack('>II', b[-8:])
    assert version == 4
    encrypted, size = bool(word & 0x80000000), word & 0x7FFFFFFF
    chunks = (size + CHUNK - 1) // CHUNK
    start = size + chunks * OVERHEAD if encrypted else size
    meta = b[start:-8]
    data = b[:size]
    if encrypted:
        meta = open_block(key, METABLOCK, meta, b[-8:])
        data, pos = b'', 0
        for i in range(chunks):
            n = min(CHUNK, size - i * CHUNK)
            data += open_block(key, i, b[pos:pos + n + OVERHEAD]); pos += n + OVERHEAD
    assert lookup2(meta[4:]) == struct.unpack('>I', meta[:4])[0]
    for i in range(chunks):
        assert lookup2(data[i * CHUNK:(i + 1) * CHUNK]) & 0xFFFF == struct.unpack('>H', meta[4 + 2 * i:6 + 2 * i])[0]
    h = 4 + 2 * chunks
    v, fetches, fetched, modified, frecency, expires, keysize, flags = struct.unpack('>8I', meta[h:h + 32])
    assert v == 4
    k = meta[h + 32:h + 32 + keysize].decode()
    parts = meta[h + 33 + keysize:].split(b'\0')[:-1]
    el = dict(zip(parts[0::2], parts[1::2]))
    head = el[b'response-head'].decode('latin-1').split('\r\n')
    fields = {l.split(':', 1)[0].lower(): l.split(':', 1)[1].strip() for l in head[1:] if ':' in l}
    coding = fields.get('content-encoding', '-')
    body = gzip.decompress(data) if coding == 'gzip' else data
    tags, url = k.split(':', 1)[0].rstrip(','), k.split(',:', 1)[1] if ',:' in k else k[1:]
    row = [name, k, url, url.split('/')[2].split(':')[0], tags or '-', head[0], fields.get('content-type', '-'),
           coding, str(size), str(len(body)), 'gzip' if coding == 'gzip' else 'identity', '-', '-', '-', '-',
           iso(modified), iso(fetched), iso(expires), str(fetches),
           'metahash-ok,chunks-ok,v4' + (',encrypted' if encrypted else '')]
    print('\t'.join(row))
