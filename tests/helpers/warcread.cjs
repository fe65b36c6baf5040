// Reads a WARC file with warcio, the archivists' own reader, as the web archive test's
// independent check: one JSON line per record with the fields warcio parsed, and for each
// response or resource record its payload, with the Content-Encoding its HTTP head names
// undone by Node's own zlib, written to OUTDIR/<n>.body.
// usage: node warcread.cjs FILE.warc.gz OUTDIR   (warcio found through NODE_PATH)
'use strict';
const { WARCParser } = require('warcio');
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

function undo(body, coding) {
  switch (coding) {
    case 'gzip': case 'x-gzip': return zlib.gunzipSync(body);
    case 'deflate':
      try { return zlib.inflateSync(body); } catch (e) { return zlib.inflateRawSync(body); }
    case 'br': return zlib.brotliDecompressSync(body);
    case 'identity': case '': return body;
    default: return null;
  }
}

async function main() {
  const [file, outDir] = process.argv.slice(2);
  const parser = new WARCParser(fs.createReadStream(file));
  let n = 0;
  for await (const record of parser) {
    const line = {
      n, offset: parser.offset,
      type: record.warcType, uri: record.warcTargetURI || '', date: record.warcDate || '',
      id: record.warcHeader('WARC-Record-ID') || '',
      payloadDigest: record.warcPayloadDigest || '', blockDigest: record.warcBlockDigest || '',
      refersTo: record.warcHeader('WARC-Refers-To') || '', key: record.warcHeader('WARC-Tidewrack-Key') || '',
      status: record.httpHeaders ? record.httpHeaders.statusCode : null, body: '',
    };
    if (record.warcType === 'response' || record.warcType === 'resource') {
      let body = Buffer.from(await record.readFully(false));
      const codings = record.httpHeaders
        ? (record.httpHeaders.headers.get('content-encoding') || '').split(',').map((c) => c.trim().toLowerCase())
        : [];
      let decoded = true;
      for (const coding of codings.reverse()) {
        let undone = null;
        try { undone = undo(body, coding); } catch (e) { line.decodeError = String(e); }
        if (undone === null) { decoded = false; break; }
        body = undone;
      }
      if (decoded) {
        line.body = path.join(outDir, `${n}.body`);
        fs.writeFileSync(line.body, body);
      }
    } else {
      await record.skipFully();
    }
    console.log(JSON.stringify(line));
    ++n;
  }
}

main().catch((e) => { console.error(String(e && e.stack || e)); process.exit(1); });
