'use strict';
// The peer of qr-image-service in its benchmark: the same GET /api.php
// answered with a PNG by the npm package qrcode. Listens on 127.0.0.1 on a
// free port and names it on stderr, as the service does.
const http = require('http');
const QRCode = require('qrcode');

// Percent escapes to bytes; every other character stands for itself.
function percentDecode(text) {
  const bytes = [];
  for (let i = 0; i < text.length; ++i) {
    if (text[i] === '%' && /^[0-9A-Fa-f]{2}$/.test(text.substr(i + 1, 2))) {
      bytes.push(parseInt(text.substr(i + 1, 2), 16));
      i += 2;
    } else {
      bytes.push(text.charCodeAt(i) & 0xff);
    }
  }
  return Buffer.from(bytes);
}

function answer(response, status, type, body) {
  response.writeHead(status, {
    'Content-Type': type,
    'Content-Length': body.length,
    'Cache-Control': 'no-store',
  });
  response.end(body);
}

const server = http.createServer(async (request, response) => {
  const question = request.url.indexOf('?');
  const path = question < 0 ? request.url : request.url.slice(0, question);
  if (path !== '/api.php') return answer(response, 404, 'text/plain', 'not found\n');
  const query = {};
  for (const pair of (question < 0 ? '' : request.url.slice(question + 1)).split('&')) {
    const eq = pair.indexOf('=');
    if (eq > 0) query[pair.slice(0, eq)] = pair.slice(eq + 1);
  }
  const text = percentDecode(query.text || '');
  if (text.length === 0) return answer(response, 400, 'text/plain', 'text is missing or empty\n');
  try {
    const png = await QRCode.toBuffer([{ data: text, mode: 'byte' }], {
      type: 'png',
      errorCorrectionLevel: (query.el || 'l').toUpperCase(),
      width: Number(query.w || 300),
      margin: 1,
    });
    answer(response, 200, 'image/png', png);
  } catch (error) {
    answer(response, 413, 'text/plain', 'text does not fit\n');
  }
});

server.listen(0, '127.0.0.1', () => {
  process.stderr.write(`qrcode peer: listening on 127.0.0.1:${server.address().port}\n`);
});
process.on('SIGTERM', () => process.exit(0));
process.on('SIGINT', () => process.exit(0));
