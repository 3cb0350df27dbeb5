// Draws the bundle's icon and writes it as a PNG: a speed gauge turned down, the app's one
// idea (a single app's network slowed). Usage: node packaging/icon.js OUTPUT
// Drawn here rather than committed, so that the source of every byte is in the repository. The
// same bytes come out on every run and every machine: the drawing tests each of 4×4 points in a
// pixel against exact shapes, and the compressor is fflate, plain JavaScript pinned by the lock
// (zlib builds with processor-specific code may compress the same pixels differently).
import { writeFileSync } from 'node:fs';
import { zlibSync } from 'fflate';

const size = 512;
const samples = 4;
const center = { x: 256, y: 276 };
const waves = { x: 256, y: 446, radii: [34, 60], width: 13, dot: 12 };
const gauge = { radius: 168, width: 46, from: 225, sweep: 270, segments: 8, gap: 0.014 };
const needleAt = 0.3; // of the sweep: turned well down
const colour = {
  top: [30, 64, 120], bottom: [11, 24, 52], lit: [251, 176, 36], unlit: [255, 255, 255, 0.2], needle: [255, 255, 255],
  waves: [148, 197, 253],
};

function mix(a, b, t) {
  return a.map((value, i) => value + (b[i] - value) * t);
}

function inRoundedSquare(x, y) {
  const corner = 112;
  const dx = Math.max(corner - x, x - (size - corner), 0);
  const dy = Math.max(corner - y, y - (size - corner), 0);
  return dx * dx + dy * dy <= corner * corner;
}

// Where a point lies along the gauge's sweep, 0 at its low end and 1 at its high end.
function along(dx, dy) {
  const degrees = Math.atan2(-dy, dx) * 180 / Math.PI;
  return ((((gauge.from - degrees) % 360) + 360) % 360) / gauge.sweep;
}

function inNeedle(dx, dy) {
  const angle = (gauge.from - gauge.sweep * needleAt) * Math.PI / 180;
  const ux = Math.cos(angle);
  const uy = -Math.sin(angle);
  const length = dx * ux + dy * uy;
  const side = Math.abs(dx * uy - dy * ux);
  return length >= -24 && length <= 138 && side <= 12 - 8 * Math.max(length, 0) / 138;
}

// A wireless sign under the gauge: a dot and arcs opening upwards, 90 degrees wide.
function inWaves(dx, dy) {
  const distance = Math.hypot(dx, dy);
  if (distance <= waves.dot) return true;
  if (dy >= 0 || Math.abs(dx) > -dy) return false;
  return waves.radii.some((radius) => Math.abs(distance - radius) <= waves.width / 2);
}

// The colour of one point of the icon, or null outside it.
function paint(x, y) {
  if (!inRoundedSquare(x, y)) return null;
  let rgb = mix(colour.top, colour.bottom, y / size);
  const dx = x - center.x;
  const dy = y - center.y;
  const distance = Math.hypot(dx, dy);
  const hub = distance <= 30;
  if (hub) return distance <= 11 ? rgb : colour.needle;
  if (inNeedle(dx, dy)) return colour.needle;
  if (inWaves(x - waves.x, y - waves.y)) return colour.waves;
  if (Math.abs(distance - gauge.radius) <= gauge.width / 2) {
    const t = along(dx, dy);
    const inSegment = t * gauge.segments % 1;
    if (t <= 1 && inSegment >= gauge.gap * gauge.segments && inSegment <= 1 - gauge.gap * gauge.segments) {
      rgb = t <= needleAt ? colour.lit : mix(rgb, colour.unlit, colour.unlit[3]);
    }
  }
  return rgb;
}

// Rows of RGBA, each led by PNG's filter byte 0; every pixel the mean of its points.
function draw() {
  const row = 1 + size * 4;
  const pixels = Buffer.alloc(row * size);
  for (let y = 0; y < size; y++) {
    for (let x = 0; x < size; x++) {
      const sum = [0, 0, 0];
      let inside = 0;
      for (let sy = 0; sy < samples; sy++) {
        for (let sx = 0; sx < samples; sx++) {
          const rgb = paint(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples);
          if (!rgb) continue;
          inside++;
          for (let i = 0; i < 3; i++) sum[i] += rgb[i];
        }
      }
      const at = y * row + 1 + x * 4;
      for (let i = 0; i < 3; i++) pixels[at + i] = inside ? Math.round(sum[i] / inside) : 0;
      pixels[at + 3] = Math.round(255 * inside / (samples * samples));
    }
  }
  return pixels;
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

function png() {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([8, 6, 0, 0, 0], 8); // 8 bits per channel, RGBA, no interlacing
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', Buffer.from(zlibSync(draw(), { level: 9 }))),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

const [output] = process.argv.slice(2);
if (!output) {
  console.error('usage: node packaging/icon.js OUTPUT');
  process.exit(2);
}
writeFileSync(output, png());
