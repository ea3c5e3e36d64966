// A stand-in for a browser's push service, for tests: an HTTPS server on 127.0.0.1 with a fresh
// self-signed P-256 certificate that checks each push message as a real service would (VAPID, RFC 8292)
// and decrypts it as the browser would (RFC 8291 on RFC 8188's aes128gcm).
import { execFileSync } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import https from "node:https";
import os from "node:os";
import path from "node:path";

const base64url = /^[A-Za-z0-9_-]*$/;
const fromBase64url = (text) => {
  if (typeof text !== "string" || !base64url.test(text)) throw new Error(`not base64url: ${text}`);
  return Buffer.from(text, "base64url");
};
const hkdf = (ikm, salt, info, length) => Buffer.from(crypto.hkdfSync("sha256", ikm, salt, info, length));

/// The plaintext of an aes128gcm push message for the subscription whose private parts are `keys`
/// ({ ecdh: the P-256 ECDH holding its private key, auth: the 16-byte secret }). Throws when anything
/// about it is wrong.
export function decryptPushMessage(body, { ecdh, auth }) {
  // RFC 8188 §2.1 header: salt, record size, key id; RFC 8291 §4: the key id is the sender's public key.
  if (body.length < 21) throw new Error("shorter than its header");
  const salt = body.subarray(0, 16);
  const recordSize = body.readUInt32BE(16);
  const idLength = body[20];
  if (idLength !== 65) throw new Error(`key id of ${idLength} bytes, not a P-256 point`);
  const senderPublic = body.subarray(21, 86);
  const record = body.subarray(86);
  // RFC 8291 §4: a push message is one record.
  if (record.length < 17 || record.length > recordSize) throw new Error(`record of ${record.length} bytes, size ${recordSize}`);
  const receiverPublic = ecdh.getPublicKey();
  const ikm = hkdf(ecdh.computeSecret(senderPublic), auth,
    Buffer.concat([Buffer.from("WebPush: info\0"), receiverPublic, senderPublic]), 32);
  const key = hkdf(ikm, salt, Buffer.from("Content-Encoding: aes128gcm\0"), 16);
  const nonce = hkdf(ikm, salt, Buffer.from("Content-Encoding: nonce\0"), 12); // record 0: used as is
  const decipher = crypto.createDecipheriv("aes-128-gcm", key, nonce);
  decipher.setAuthTag(record.subarray(record.length - 16));
  const padded = Buffer.concat([decipher.update(record.subarray(0, record.length - 16)), decipher.final()]);
  // The last record ends with 0x02 and any number of zeros.
  let end = padded.length - 1;
  while (end >= 0 && padded[end] === 0) end--;
  if (end < 0 || padded[end] !== 2) throw new Error("no last-record delimiter");
  return padded.subarray(0, end).toString("utf8");
}

/// The VAPID claims of an `Authorization: vapid t=…, k=…` header, once its ES256 signature checks out
/// against k; throws otherwise.
export function verifyVapid(authorization, origin, now = Date.now() / 1000) {
  const match = /^vapid (.*)$/.exec(authorization ?? "");
  if (!match) throw new Error(`not a vapid authorization: ${authorization}`);
  const params = Object.fromEntries(match[1].split(",").map((part) => {
    const equals = part.indexOf("=");
    return [part.slice(0, equals).trim(), part.slice(equals + 1).trim()];
  }));
  const point = fromBase64url(params.k);
  if (point.length !== 65 || point[0] !== 4) throw new Error("k is not an uncompressed P-256 point");
  const publicKey = crypto.createPublicKey({ format: "jwk", key: { kty: "EC", crv: "P-256",
    x: point.subarray(1, 33).toString("base64url"), y: point.subarray(33).toString("base64url") } });
  const parts = (params.t ?? "").split(".");
  if (parts.length !== 3) throw new Error("t is not a JWT");
  const [header, claims] = parts.slice(0, 2).map((part) => JSON.parse(fromBase64url(part).toString("utf8")));
  if (header.alg !== "ES256" || header.typ !== "JWT") throw new Error(`JWT header ${JSON.stringify(header)}`);
  const signature = fromBase64url(parts[2]);
  if (signature.length !== 64 || !crypto.verify("sha256", Buffer.from(`${parts[0]}.${parts[1]}`),
    { key: publicKey, dsaEncoding: "ieee-p1363" }, signature)) throw new Error("bad JWT signature");
  if (claims.aud !== origin) throw new Error(`aud ${claims.aud}, not ${origin}`);
  if (!(claims.exp > now && claims.exp <= now + 24 * 3600)) throw new Error(`exp ${claims.exp} at ${now}`);
  if (!/^(mailto:|https:)./.test(claims.sub ?? "")) throw new Error(`sub ${claims.sub}`);
  return claims;
}

/// Starts the service. Every POST to /push/<name> is checked and decrypted into `received`
/// ({ index, at (ms), path: name, ttl, message (the JSON it carried), error (why it was refused) }); it is
/// answered 201, or what answerNext(name, …) queued, or 404 for a name it never handed out.
export async function startPushService() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-push-"));
  const keyFile = path.join(dir, "key.pem");
  const caFile = path.join(dir, "cert.pem");
  execFileSync("openssl", ["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
    "-days", "1", "-subj", "/CN=tesk-push", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", keyFile,
    "-out", caFile], { stdio: "ignore" });
  const subscriptions = new Map(); // name → { ecdh, auth }
  const answers = new Map(); // name → [{ status, headers }]
  const received = [];
  const waiters = new Set();
  let origin;

  const server = https.createServer({ key: fs.readFileSync(keyFile), cert: fs.readFileSync(caFile) }, (request, response) => {
    const chunks = [];
    request.on("data", (chunk) => chunks.push(chunk));
    request.on("end", () => {
      const name = /^\/push\/([^/]+)$/.exec(request.url)?.[1];
      const keys = subscriptions.get(name);
      if (request.method !== "POST" || !keys) return response.writeHead(404).end();
      const entry = { index: received.length, at: Date.now(), path: name, ttl: request.headers.ttl };
      try {
        verifyVapid(request.headers.authorization, origin);
        if (request.headers["content-encoding"] !== "aes128gcm") throw new Error(`Content-Encoding ${request.headers["content-encoding"]}`);
        if (!/^\d+$/.test(request.headers.ttl ?? "")) throw new Error(`TTL ${request.headers.ttl}`);
        entry.message = JSON.parse(decryptPushMessage(Buffer.concat(chunks), keys));
      } catch (error) {
        entry.error = error.message;
      }
      received.push(entry);
      const answer = entry.error ? { status: 400, headers: {} } : answers.get(name)?.shift() ?? { status: 201, headers: {} };
      response.writeHead(answer.status, answer.headers).end();
      for (const waiter of waiters) waiter();
    });
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  origin = `https://127.0.0.1:${server.address().port}`;

  return {
    url: origin,
    caFile,
    received,
    /// A subscription as PushSubscription.toJSON() gives it, for messages to /push/<name>.
    newSubscription(name) {
      const ecdh = crypto.createECDH("prime256v1");
      ecdh.generateKeys();
      const auth = crypto.randomBytes(16);
      subscriptions.set(name, { ecdh, auth });
      return { endpoint: `${origin}/push/${name}`, expirationTime: null,
        keys: { p256dh: ecdh.getPublicKey().toString("base64url"), auth: auth.toString("base64url") } };
    },
    answerNext(name, status, headers = {}) {
      if (!answers.has(name)) answers.set(name, []);
      answers.get(name).push({ status, headers });
    },
    /// The first entry of `received` that `accept` takes, waiting for it up to `timeout` ms.
    waitFor(accept, timeout = 5000) {
      return new Promise((resolve, reject) => {
        const check = () => {
          const found = received.find(accept);
          if (!found) return;
          waiters.delete(check);
          clearTimeout(timer);
          resolve(found);
        };
        const timer = setTimeout(() => {
          waiters.delete(check);
          reject(new Error(`no such push message within ${timeout} ms; received ${JSON.stringify(received)}`));
        }, timeout);
        waiters.add(check);
        check();
      });
    },
    async close() {
      server.closeAllConnections();
      await new Promise((resolve) => server.close(resolve));
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}
