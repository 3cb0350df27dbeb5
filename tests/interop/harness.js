// Starts the built binaries for the interop tests and stops them again on every path.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const here = path.dirname(fileURLToPath(import.meta.url));
export const binDir = path.resolve(process.env.TARNWICK_BIN_DIR ?? path.join(here, '../../build/bin'));

// Generous, because the machine is shared; they only bound a hang, they time nothing.
export const REQUEST_TIMEOUT_MS = 20000;
const STARTUP_TIMEOUT_MS = 15000;
const EXIT_TIMEOUT_MS = 10000;

// Resolves with `promise`, or rejects with `what` once `ms` have passed.
export function within(ms, what, promise) {
  let timer;
  const expiry = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
  });
  return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
}

function hasExited(child) {
  return child.exitCode !== null || child.signalCode !== null;
}

function exitOf(child) {
  if (hasExited(child)) return Promise.resolve({ code: child.exitCode, signal: child.signalCode });
  return once(child, 'exit').then(([code, signal]) => ({ code, signal }));
}

// SIGTERM, then SIGKILL if the process outlives the bound; never throws.
async function terminate(child) {
  if (hasExited(child)) return;
  child.kill('SIGTERM');
  try {
    await within(EXIT_TIMEOUT_MS, 'process to end after SIGTERM', exitOf(child));
  } catch {
    child.kill('SIGKILL');
    await within(EXIT_TIMEOUT_MS, 'process to end after SIGKILL', exitOf(child)).catch(() => {});
  }
}

// Starts the stand-in app on a free port and returns { port, stop }.
export async function startStandin() {
  const child = spawn(path.join(binDir, 'tarnwick-standin'), ['--port', '0'], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  child.stderr.setEncoding('utf8').on('data', (chunk) => { stderr += chunk; });
  const announced = new Promise((resolve, reject) => {
    let seen = '';
    const onData = (chunk) => {
      seen += chunk;
      const end = seen.indexOf('\n');
      if (end < 0) return;
      child.stdout.off('data', onData);
      child.stdout.resume(); // keep later output from filling the pipe
      const match = /^tarnwick-standin listening on 127\.0\.0\.1:(\d+)\r?$/.exec(seen.slice(0, end));
      if (match) resolve(Number(match[1]));
      else reject(new Error(`unexpected first line from the stand-in: ${JSON.stringify(seen.slice(0, end))}`));
    };
    child.stdout.setEncoding('utf8').on('data', onData);
    child.once('error', reject);
    child.once('exit', (code, signal) =>
      reject(new Error(`stand-in ended before listening (code ${code}, signal ${signal}): ${stderr}`)));
  });
  try {
    const port = await within(STARTUP_TIMEOUT_MS, 'stand-in to announce its port', announced);
    return { port, stop: () => terminate(child) };
  } catch (error) {
    await terminate(child);
    throw error;
  }
}

// How a session starts the server when only the app's port is given: the built binary, or the
// command in TARNWICK_SERVER (a JSON array, such as ["npx","-y","tarnwick-mcp"]) with the npm
// settings of this environment, which the SDK would otherwise leave out of the child's.
function serverForPort(port) {
  const env = { TARNWICK_PORT: String(port) };
  if (!process.env.TARNWICK_SERVER) return { command: path.join(binDir, 'tarnwick-mcp'), env };
  const [command, ...args] = JSON.parse(process.env.TARNWICK_SERVER);
  for (const [key, value] of Object.entries(process.env)) if (key.startsWith('npm_config_')) env[key] = value;
  return { command, args, env };
}

// Connects an SDK client to a fresh server: the one serverForPort() names when `server` is the
// app's port, else the { command, args, env } that a client's configuration names.
// The returned session's close() resolves with { code, signal, stderr } and never leaves the server running.
export async function openSession(server) {
  const { command, args = [], env = {} } = typeof server === 'object' ? server : serverForPort(server);
  const transport = new StdioClientTransport({ command, args, env, stderr: 'pipe' });
  let stderr = '';
  transport.stderr.setEncoding('utf8').on('data', (chunk) => { stderr += chunk; });
  const session = { transport, clientErrors: [], revision: undefined };
  // The SDK hands the negotiated revision to transports that want it; stdio has no use for it, we do.
  transport.setProtocolVersion = (revision) => { session.revision = revision; };

  const client = new Client({ name: 'tarnwick-interop', version: '1.0.0' });
  client.onerror = (error) => session.clientErrors.push(error);
  session.client = client;

  // The SDK keeps the exit status to itself; its child process object is the only place to read it,
  // and it must be taken as soon as it exists, since a failed connect() lets go of it.
  let child;
  const start = transport.start.bind(transport);
  transport.start = async () => {
    await start();
    child = transport._process;
  };
  try {
    await client.connect(transport, { timeout: REQUEST_TIMEOUT_MS });
  } catch (error) {
    if (child) await terminate(child);
    throw error;
  }
  const exited = exitOf(child);

  session.close = async () => {
    try {
      await within(EXIT_TIMEOUT_MS, 'client.close()', client.close());
      const { code, signal } = await within(EXIT_TIMEOUT_MS, 'server to exit', exited);
      if (!transport.stderr.readableEnded) {
        await within(EXIT_TIMEOUT_MS, 'server stderr to end', once(transport.stderr, 'end'));
      }
      return { code, signal, stderr };
    } finally {
      await terminate(child);
    }
  };
  return session;
}
