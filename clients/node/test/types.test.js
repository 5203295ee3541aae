// index.d.ts against a host written in TypeScript (test/types/usage.ts): what it allows compiles,
// and each mistake marked there is an error.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { createRequire } from 'node:module';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

test('the declarations type a host as documented', { timeout: 120000 }, async () => {
  const tsc = createRequire(import.meta.url).resolve('typescript/bin/tsc');
  const project = fileURLToPath(new URL('./types/tsconfig.json', import.meta.url));
  const output = await new Promise((resolve) => {
    execFile(process.execPath, [tsc, '-p', project], (error, stdout, stderr) => resolve(`${stdout}${stderr}`));
  });
  assert.equal(output, '');
});
