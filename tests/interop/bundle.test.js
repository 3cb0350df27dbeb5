// The packed MCP bundle, installed and started the way Claude Desktop does it, against the stand-in.
// Runs when TARNWICK_BUNDLE names a bundle (scripts/test --full makes one with scripts/release).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { chmod, mkdir, mkdtemp, readFile, readdir, rm, stat } from 'node:fs/promises';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { REQUEST_TIMEOUT_MS, openSession, startStandin } from './harness.js';

const bundle = process.env.TARNWICK_BUNDLE;
const opts = { timeout: REQUEST_TIMEOUT_MS };
// What a Mac gives an app started from the Dock, and less.
const minimalPath = '/usr/bin:/bin';

// The bundler's library (pinned in packaging/): Claude Desktop unpacks bundles and fills in their
// mcp_config with this very code.
async function bundler() {
  const packaging = path.join(path.dirname(fileURLToPath(import.meta.url)), '../../packaging/package.json');
  return import(pathToFileURL(createRequire(packaging).resolve('@anthropic-ai/mcpb')).href);
}

// Claude Desktop on macOS keeps none of the modes stored in the bundle, at install and at every
// update (an unpacking over the installed folder): every file lands as `mode`, however it was packed.
async function install(unpackExtension, dir, mode, { fresh }) {
  if (fresh) await rm(dir, { recursive: true, force: true });
  await mkdir(dir, { recursive: true });
  assert.ok(await unpackExtension({ mcpbPath: bundle, outputDir: dir, silent: true }), 'unpacked');
  for (const name of await readdir(dir, { recursive: true })) {
    const file = path.join(dir, name);
    if ((await stat(file)).isFile()) await chmod(file, mode);
  }
}

// A whole session through `config`, as the client starts it: no shell, the minimal PATH.
async function play(config, manifest, port) {
  const session = await openSession(config);
  let outcome;
  try {
    const { client } = session;
    assert.equal(client.getServerVersion().version, manifest.version);
    // exec: the client's child is the server itself, with no shell left between them.
    const name = execFileSync('ps', ['-o', 'comm=', '-p', String(session.transport.pid)], { encoding: 'utf8' });
    assert.equal(path.basename(name.trim()), 'tarnwick-mcp');
    const { tools } = await client.listTools(undefined, opts);
    assert.equal(tools.length, 10);
    assert.deepEqual(tools.map(({ name, description }) => ({ name, description })), manifest.tools);
    const status = await client.callTool({ name: 'status', arguments: {} }, undefined, opts);
    assert.equal(status.isError, false, status.content[0]?.text);
    assert.ok(Array.isArray(JSON.parse(status.content[0].text).rules), `the stand-in on ${port} answered`);
  } finally {
    outcome = await session.close();
  }
  assert.deepEqual(outcome, { code: 0, signal: null, stderr: '' }, 'server exit after the client closed');
}

// 'started', or the code of the error that kept `config` from starting.
async function startOutcome(config) {
  try {
    await (await openSession(config)).close();
    return 'started';
  } catch (error) {
    return error.code;
  }
}

test('the bundle starts as Claude Desktop leaves it, on the configured port, with the tools its manifest lists',
  { skip: !bundle && 'TARNWICK_BUNDLE is not set' }, async (t) => {
    const { unpackExtension, getMcpConfigForManifest } = await bundler();
    const top = await mkdtemp(path.join(os.tmpdir(), 'tarnwick-bundle-'));
    t.after(() => rm(top, { recursive: true, force: true }));
    const dir = path.join(top, 'Claude Extensions', "ant's tarnwick-mcp");
    await install(unpackExtension, dir, 0o600, { fresh: true });
    const manifest = JSON.parse(await readFile(path.join(dir, 'manifest.json'), 'utf8'));
    assert.deepEqual(manifest.compatibility.platforms, [process.platform]);

    const standin = await startStandin();
    t.after(() => standin.stop());
    // Away from the default, so that a port setting which never reached the server shows.
    assert.notEqual(standin.port, manifest.user_config.port.default);
    const configFor = async (server) => {
      const config = await getMcpConfigForManifest({
        manifest: { ...manifest, server }, extensionPath: dir, systemDirs: {}, userConfig: { port: standin.port },
        pathSeparator: path.sep,
      });
      return { ...config, env: { ...config.env, PATH: minimalPath } };
    };
    const config = await configFor(manifest.server);
    // The way it failed before: a command that is the server itself, which the host left unexecutable.
    const { mcp_config: launch, entry_point: entryPoint } = manifest.server;
    const direct = await configFor({
      ...manifest.server, mcp_config: { ...launch, command: `\${__dirname}/${entryPoint}`, args: [] },
    });

    for (const mode of [0o600, 0o644]) {
      for (const moment of ['installed', 'updated']) {
        await t.test(`every file ${mode.toString(8)}, ${moment}`, async () => {
          await install(unpackExtension, dir, mode, { fresh: moment === 'installed' });
          assert.equal(await startOutcome(direct), 'EACCES', 'how the server itself starts there');
          await play(config, manifest, standin.port);
        });
      }
    }

    await t.test('without its server, one line on standard error says where it is missing', async () => {
      const server = path.join(dir, manifest.server.entry_point);
      await rm(server);
      const run = spawnSync(config.command, config.args, {
        env: config.env, input: '', encoding: 'utf8', timeout: REQUEST_TIMEOUT_MS,
      });
      assert.notEqual(run.status, 0);
      assert.equal(run.stdout, '');
      assert.match(run.stderr, /^tarnwick-mcp: [^\n]+\n$/);
      assert.ok(run.stderr.includes(server), run.stderr);
    });
  });
