// Unpacking a .velt.gz under node: the bytes it holds, and a clean refusal
// of a broken stream or one that unpacks past the limit.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { gzipSync } from 'node:zlib';

import { GzipError, isGzip, unpackGzip } from '../../web/gzip_file.js';

const file = Buffer.concat([Buffer.from('VELT'), Buffer.alloc(100_000, 7)]);
const gzip = gzipSync(file, { level: 9 });

const cases = [
  { why: 'a whole stream: the file', bytes: gzip, limit: file.length, expect: file },
  { why: 'one byte past the limit', bytes: gzip, limit: file.length - 1, expect: /^the gzip file unpacks to more than 100003 bytes$/ },
  { why: 'cut short', bytes: gzip.subarray(0, gzip.length - 4), expect: /^broken gzip data: / },
  { why: 'bytes after the stream', bytes: Buffer.concat([gzip, Buffer.from('VELT')]), expect: /^broken gzip data: / },
];

test('unpackGzip gives the file, or a GzipError', async () => {
  for (const { why, bytes, limit, expect } of cases) {
    assert.ok(isGzip(bytes), why);
    const unpacking = unpackGzip(new Uint8Array(bytes), limit);
    if (expect instanceof RegExp) await assert.rejects(unpacking, (error) => error instanceof GzipError && expect.test(error.message), why);
    else assert.deepEqual(Buffer.from(await unpacking), expect, why);
  }
  assert.equal(isGzip(file), false, 'a VELT file is not taken for gzip');
});
