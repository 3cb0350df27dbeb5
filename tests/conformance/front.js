// A Streamable HTTP front for the stdio server, so that HTTP-only clients (the conformance suite)
// can reach it. Usage: node front.js SERVER_BINARY. Prints "listening on port N" once ready;
// on SIGTERM it closes the server's input and exits 0 only if the server ended cleanly, wrote
// nothing on stderr and never a line that no request asked for.
// One long-lived server answers every request: a stateless server must not mind, and a leak of
// state from one request into the next would show.
import { spawn } from 'node:child_process';
import http from 'node:http';
import readline from 'node:readline';

const REPLY_MS = 10000, EXIT_MS = 5000, BODY_LIMIT = 1 << 20;
// The HTTP binding's statuses for these errors; the server never sees HTTP, so the front adds them.
const STATUS = { '-32601': 404, '-32602': 400, '-32020': 400, '-32021': 400, '-32022': 400 };
const JSON_TYPE = { 'Content-Type': 'application/json' };

let faults = 0, stopping = false, closed = false;
const fault = (what) => { faults += 1; console.error(`front: ${what}`); };
const pending = new Map(); // the request's id as JSON text -> settle(answer line, error code)
const parse = (text) => { try { return JSON.parse(text); } catch { return undefined; } };

const child = spawn(process.argv[2], [], { stdio: 'pipe' });
child.on('error', (error) => { fault(`cannot start: ${error.message}`); process.exit(1); });
child.stderr.on('data', (chunk) => fault(`server wrote on stderr: ${chunk}`));
child.stdin.on('error', () => {}); // a write to a dead server must not crash us; 'close' tells
// 'close', not 'exit': after 'exit' the server's last lines may still be on their way.
child.on('close', (code, signal) => {
  closed = true;
  if (!stopping) fault(`server ended early (code ${code}, signal ${signal})`);
  for (const settle of [...pending.values()]) settle(null);
});

readline.createInterface({ input: child.stdout }).on('line', (line) => {
  const answer = parse(line);
  // An answer under an id nobody waits for still goes to the only waiting request, if there is
  // just one, so that the client, not the front, judges the wrong id. A message is no answer.
  const only = pending.size === 1 ? [...pending.values()][0] : undefined;
  const isAnswer = answer?.method === undefined;
  const settle = isAnswer && (pending.get(JSON.stringify(answer?.id ?? null)) ?? only);
  if (settle) settle(line, answer?.error?.code);
  else fault(`line that no request asked for: ${line}`);
});

const server = http.createServer({ requestTimeout: REPLY_MS }, (req, res) => {
  const reply = (status, body) => res.writeHead(status, body ? JSON_TYPE : {}).end(body);
  if (req.method !== 'POST') return reply(405);
  let body = '';
  req.setEncoding('utf8');
  req.on('data', (chunk) => { body += chunk; if (body.length > BODY_LIMIT) req.destroy(); });
  req.on('end', () => {
    const message = parse(body);
    // The wire is one message per line: a pretty-printed body must not become several lines.
    const line = message === undefined ? body.replace(/[\r\n]+/g, ' ') : JSON.stringify(message);
    const has = (key) => typeof message === 'object' && message !== null && key in message;
    const expectsAnswer = !((has('method') && !has('id')) || has('result') || has('error'));
    if (closed) return reply(502);
    if (!expectsAnswer) { child.stdin.write(`${line}\n`); return reply(202); }
    const key = JSON.stringify(has('id') ? message.id : null);
    if (pending.has(key)) return reply(409);
    const timer = setTimeout(() => settle(null), REPLY_MS);
    const settle = (answer, code) => {
      clearTimeout(timer);
      pending.delete(key);
      if (answer !== null) return reply(STATUS[code] ?? 200, answer);
      if (!closed) fault(`no answer within ${REPLY_MS} ms to: ${line}`);
      reply(502);
    };
    pending.set(key, settle);
    child.stdin.write(`${line}\n`);
  });
});
server.listen(0, '127.0.0.1', () => console.log(`listening on port ${server.address().port}`));

const stop = () => {
  stopping = true;
  server.close();
  child.stdin.end();
  const kill = () => { fault('server outlived its input'); child.kill('SIGKILL'); };
  const killer = setTimeout(kill, EXIT_MS);
  const finish = () => {
    clearTimeout(killer);
    if (child.exitCode !== 0) fault(`server exit: ${child.exitCode ?? child.signalCode}`);
    process.exit(faults === 0 ? 0 : 1);
  };
  if (closed) finish(); else child.on('close', finish);
};
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, stop);
