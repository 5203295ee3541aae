// Stages the npm packages for `npm pack`: the host package from clients/node with the platform
// packages as optional dependencies, and one package per platform holding the renderer binary,
// picked by npm through its os and cpu fields. No package has install scripts.
//
//   node packaging/npm/stage.mjs <staging dir> <linux renderer> <windows renderer .exe>
import { chmodSync, copyFileSync, cpSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [stagingDir, linuxRenderer, windowsRenderer] = process.argv.slice(2);
const root = fileURLToPath(new URL('../..', import.meta.url));
const host = JSON.parse(readFileSync(path.join(root, 'clients/node/package.json'), 'utf8'));
const { version } = host;
const licence = path.join(root, 'packaging/LICENSE');

const platforms = [
  { name: 'linux-x64', os: 'linux', cpu: 'x64', binary: linuxRenderer, file: 'kest-font-preview-renderer' },
  { name: 'win32-x64', os: 'win32', cpu: 'x64', binary: windowsRenderer, file: 'kest-font-preview-renderer.exe' },
];

const writeJson = (file, value) => writeFileSync(file, `${JSON.stringify(value, null, 2)}\n`);

for (const p of platforms) {
  const dir = path.join(stagingDir, p.name);
  mkdirSync(path.join(dir, 'bin'), { recursive: true });
  copyFileSync(p.binary, path.join(dir, 'bin', p.file));
  chmodSync(path.join(dir, 'bin', p.file), 0o755);
  copyFileSync(licence, path.join(dir, 'LICENSE'));
  writeFileSync(
    path.join(dir, 'README.md'),
    `# @kest-font-preview/${p.name}\n\nThe kest-font-preview renderer for ${p.os} on ${p.cpu}: \`bin/${p.file}\`.\n` +
      `Install \`kest-font-preview\`, which depends on this package optionally and finds the binary itself.\n`,
  );
  writeJson(path.join(dir, 'package.json'), {
    name: `@kest-font-preview/${p.name}`,
    version,
    description: `kest-font-preview-renderer for ${p.os}-${p.cpu}`,
    license: 'SEE LICENSE IN LICENSE',
    os: [p.os],
    cpu: [p.cpu],
    files: ['bin/', 'LICENSE', 'README.md'],
    exports: { './package.json': './package.json' },
    preferUnplugged: true,
  });
}

const hostDir = path.join(stagingDir, 'kest-font-preview');
mkdirSync(hostDir, { recursive: true });
for (const entry of [...host.files, 'README.md', 'CHANGELOG.md']) {
  cpSync(path.join(root, 'clients/node', entry), path.join(hostDir, entry), { recursive: true });
}
copyFileSync(licence, path.join(hostDir, 'LICENSE'));
const { devDependencies, scripts, private: _private, ...published } = host;
writeJson(path.join(hostDir, 'package.json'), {
  ...published,
  license: 'SEE LICENSE IN LICENSE',
  files: [...host.files, 'LICENSE'],
  optionalDependencies: Object.fromEntries(platforms.map((p) => [`@kest-font-preview/${p.name}`, version])),
});
