// The OAuth2 provider of the sign-in tests, on 127.0.0.1 at a free port:
//   node server.js DIR ACCOUNT     writes DIR/pid, then DIR/port once it listens
// (scripts/oauth2-fixture.sh starts and stops it).
// It is oauth2-mock-server with what a real provider keeps: the codes need a
// PKCE verifier, refresh tokens are remembered (and can be revoked), access
// tokens expire, and Dovecot's introspection (POST /introspect, token=...)
// learns whether a token is live and whose it is. Tests steer it by GET:
//   /control/expire?seconds=N[&claim=M]   access tokens issued from now on
//                               last N s (the client is told M, N by default)
//   /control/rotate             each refresh also replaces the refresh token,
//                               and the old one is refused from then on
//   /control/revoke             every refresh token issued so far is refused
//   /control/reset              back to the start (one hour, no rotation)
import { createServer } from 'node:http';
import { writeFileSync, renameSync } from 'node:fs';
import mock from 'oauth2-mock-server';

const [dir, account] = process.argv.slice(2);
if (!dir || !account) {
  console.error('usage: node server.js DIR ACCOUNT');
  process.exit(2);
}

// Its own HTTP server stays unstarted: ours below answers first.
const provider = new mock.OAuth2Server();
const { issuer, service } = provider;
await issuer.keys.generate('RS256');

let lifetime = 3600;
let claimed = 3600;
let rotate = false;
const refreshTokens = new Map(); // token -> live
const accessTokens = new Map(); // token -> expiry (ms)

service.on('beforeTokenSigning', (token) => {
  token.payload.email = account;
  token.payload.preferred_username = account;
});
service.on('beforeResponse', (response, req) => {
  const body = req.body ?? {};
  const refuse = (error) => {
    response.statusCode = 400;
    response.body = { error };
  };
  if (response.statusCode !== 200) return;
  if (body.grant_type === 'authorization_code' && !body.code_verifier) return refuse('invalid_request');
  if (body.grant_type === 'refresh_token' && !refreshTokens.get(body.refresh_token)) return refuse('invalid_grant');
  // A refresh keeps its refresh token, as Google does: the client must keep
  // the old one; rotated, as Microsoft may, the client must keep the new one.
  if (body.grant_type === 'refresh_token' && !rotate) delete response.body.refresh_token;
  else refreshTokens.set(response.body.refresh_token, true);
  if (body.grant_type === 'refresh_token' && rotate) refreshTokens.set(body.refresh_token, false);
  response.body.expires_in = claimed;
  accessTokens.set(response.body.access_token, Date.now() + lifetime * 1000);
});

const handler = service.requestHandler;
const server = createServer((req, res) => {
  const url = new URL(req.url, 'http://127.0.0.1');
  const answer = (status, body) => {
    res.writeHead(status, { 'Content-Type': 'application/json' });
    res.end(JSON.stringify(body));
  };
  if (url.pathname === '/control/expire') {
    lifetime = Number(url.searchParams.get('seconds'));
    claimed = Number(url.searchParams.get('claim') ?? lifetime);
    return answer(200, { lifetime, claimed });
  }
  if (url.pathname === '/control/rotate') {
    rotate = true;
    return answer(200, {});
  }
  if (url.pathname === '/control/revoke') {
    for (const token of refreshTokens.keys()) refreshTokens.set(token, false);
    return answer(200, { revoked: refreshTokens.size });
  }
  if (url.pathname === '/control/reset') {
    lifetime = claimed = 3600;
    rotate = false;
    return answer(200, {});
  }
  if (url.pathname === '/introspect' && req.method === 'POST') {
    let text = '';
    req.on('data', (chunk) => (text += chunk));
    req.on('end', () => {
      const token = new URLSearchParams(text).get('token') ?? '';
      const expiry = accessTokens.get(token);
      answer(200, expiry && expiry > Date.now() ? { active: 'true', username: account } : { active: 'false' });
    });
    return;
  }
  handler(req, res);
});
server.listen(0, '127.0.0.1', () => {
  const { port } = server.address();
  issuer.url = `http://127.0.0.1:${port}`;
  writeFileSync(`${dir}/pid`, `${process.pid}\n`);
  writeFileSync(`${dir}/port.tmp`, `${port}\n`);
  renameSync(`${dir}/port.tmp`, `${dir}/port`);
});
