// The JSON files of a release, and the check that every file of it names one version.
// Usage (from scripts/release):
//   node packaging/release.js npm-package VERSION NAME OUTPUT        package.json of the npm package
//   node packaging/release.js server-json VERSION NAME URL SHA256 OUTPUT
//   node packaging/release.js check VERSION BINARY DIST
// NAME is the MCP registry name (io.github.<account>/tarnwick-mcp); URL is where the release
// publishes the macOS bundle, SHA256 that bundle's digest. Exits non-zero with a message on a
// mismatch or a server.json that the registry's schema refuses.
import { execFileSync } from 'node:child_process';
import { readFileSync, readdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import Ajv from 'ajv';
import addFormats from 'ajv-formats';

const here = path.dirname(fileURLToPath(import.meta.url));
const description = 'Slow down and break the network of single iOS Simulator and Mac apps with the Tarnwick app.';
const port = {
  name: 'TARNWICK_PORT',
  description: 'The port of the Tarnwick app\'s automation endpoint, shown in its menu bar icon › Automation, '
    + 'where Allow Automation is turned on.',
  format: 'number',
  default: '47300',
  isRequired: false,
  isSecret: false,
};

function write(output, value) {
  writeFileSync(output, JSON.stringify(value, null, 2) + '\n');
}

function fail(message) {
  console.error(`release: ${message}`);
  process.exit(1);
}

function repository(name) {
  const account = /^io\.github\.([^/]+)\//.exec(name)?.[1];
  return account && { url: `https://github.com/${account}/tarnwick-mcp`, source: 'github' };
}

function npmPackage(version, name, output) {
  write(output, {
    name: 'tarnwick-mcp',
    version,
    description,
    // The MCP registry proves that the package belongs to the server.json of this name.
    mcpName: name,
    license: 'MIT',
    keywords: ['mcp', 'model-context-protocol', 'ios-simulator', 'network', 'testing'],
    ...(repository(name) && { repository: { type: 'git', url: `git+${repository(name).url}.git` } }),
    bin: { 'tarnwick-mcp': 'bin/tarnwick-mcp' },
    // No cpu field: it cannot say "any Mac, or Linux on x86_64", and the bin says in one line
    // what a system without a binary lacks.
    os: ['darwin', 'linux'],
    files: ['bin/', 'native/'],
  });
}

function serverJson(version, name, url, sha256, output) {
  const server = {
    $schema: 'https://static.modelcontextprotocol.io/schemas/2025-09-29/server.schema.json',
    name,
    title: 'Tarnwick',
    description,
    ...(repository(name) && { repository: repository(name) }),
    version,
    packages: [
      { registryType: 'npm', identifier: 'tarnwick-mcp', version, transport: { type: 'stdio' },
        environmentVariables: [port] },
      { registryType: 'mcpb', identifier: url, fileSha256: sha256, transport: { type: 'stdio' },
        environmentVariables: [port] },
    ],
  };
  const ajv = new Ajv({ strict: false, allErrors: true });
  addFormats(ajv);
  const validate = ajv.compile(JSON.parse(readFileSync(path.join(here, 'registry/server.schema.json'), 'utf8')));
  if (!validate(server)) fail(`server.json does not meet the registry's schema: ${ajv.errorsText(validate.errors)}`);
  write(output, server);
}

function run(command, args) {
  return execFileSync(command, args, { encoding: 'utf8', timeout: 20000, stdio: ['ignore', 'pipe', 'pipe'] });
}

// Every place a release states its version, read back from the files as published.
function check(version, binary, dist) {
  const stated = new Map();
  stated.set(`${binary} --version`, run(binary, ['--version']).trim().split(' ').pop());
  for (const file of readdirSync(dist).filter((name) => name.endsWith('.mcpb'))) {
    stated.set(`${file} manifest`, JSON.parse(run('unzip', ['-p', path.join(dist, file), 'manifest.json'])).version);
  }
  const tarballs = readdirSync(path.join(dist, 'npm'));
  if (tarballs.length !== 1) fail(`dist/npm holds ${tarballs.length} files, not the one package`);
  const packed = path.join(dist, 'npm', tarballs[0]);
  const npm = JSON.parse(run('tar', ['-xzOf', packed, 'package/package.json']));
  stated.set(`${tarballs[0]} package.json`, npm.version);
  const server = JSON.parse(readFileSync(path.join(dist, 'server.json'), 'utf8'));
  stated.set('server.json', server.version);
  for (const entry of server.packages) {
    if (entry.version !== undefined) stated.set(`server.json ${entry.registryType} package`, entry.version);
    if (entry.registryType === 'npm' && entry.identifier !== npm.name) fail(`server.json names npm package ${entry.identifier}`);
  }
  if (npm.mcpName !== server.name) fail(`the npm package's mcpName ${npm.mcpName} is not server.json's name ${server.name}`);
  for (const file of readdirSync(dist).filter((name) => /\.(tar\.gz|mcpb)$/.test(name))) {
    stated.set(`file name ${file}`, /^tarnwick-mcp-(.+)-(darwin-universal|linux-x64)\.(tar\.gz|mcpb)$/.exec(file)?.[1]);
  }
  stated.set(`file name ${tarballs[0]}`, /^tarnwick-mcp-(.+)\.tgz$/.exec(tarballs[0])?.[1]);
  const wrong = [...stated].filter(([, value]) => value !== version);
  if (wrong.length) fail(`version ${version} (CMakeLists.txt) disagrees with ${wrong.map(([where, value]) => `${where}: ${value}`).join(', ')}`);

  // npm sets the execute bit on the declared bin alone; a binary packed without it never starts.
  const listing = run('tar', ['-tvzf', packed]).split('\n').filter((line) => / package\/(bin|native)\//.test(line));
  const unrunnable = listing.filter((line) => !/^-rwxr-xr-x/.test(line));
  if (listing.length !== 3 || unrunnable.length) fail(`the npm package's programs are not all executable:\n${listing.join('\n')}`);
  console.error(`release: every file states version ${version} (${stated.size} places)`);
  sameBundles(dist);
}

// The two bundles must be one bundle but for the server in them and the platforms they name: a
// launcher, icon or manifest field that reached one alone would go untested on the other's system.
function sameBundles(dist) {
  const [mac, linux] = ['darwin-universal', 'linux-x64']
    .map((platform) => path.join(dist, readdirSync(dist).find((name) => name.endsWith(`-${platform}.mcpb`))));
  const entries = (bundle) => run('unzip', ['-Z1', bundle]).split('\n').filter(Boolean).sort();
  if (entries(mac).join('\n') !== entries(linux).join('\n')) fail(`the bundles hold different files:\n${entries(mac)}\n${entries(linux)}`);
  const entry = (bundle, name) => execFileSync('unzip', ['-p', bundle, name], { timeout: 20000 });
  const withoutPlatforms = (text) => {
    const manifest = JSON.parse(text);
    return JSON.stringify({ ...manifest, compatibility: { ...manifest.compatibility, platforms: undefined } });
  };
  for (const name of entries(mac).filter((file) => file !== 'server/tarnwick-mcp')) {
    const same = name === 'manifest.json'
      ? withoutPlatforms(entry(mac, name)) === withoutPlatforms(entry(linux, name))
      : entry(mac, name).equals(entry(linux, name));
    if (!same) fail(`the bundles differ in ${name}, not only in the server and its platforms`);
  }
}

const [command, ...args] = process.argv.slice(2);
const commands = { 'npm-package': [npmPackage, 3], 'server-json': [serverJson, 5], check: [check, 3] };
if (!commands[command] || args.length !== commands[command][1]) {
  fail('usage: node packaging/release.js npm-package|server-json|check ARGUMENTS (see the file)');
}
commands[command][0](...args);
