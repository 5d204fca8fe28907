// Norrow's search relay, in nginx's JavaScript module (njs 0.7.9): what
// nginx's own directives cannot say. nginx.conf and the snippets that
// relay.php makes call it:
//   client   (js_set $norrow_client) the key of a client in every per-client
//            limit of the site: its IPv4 address, or the /64 of its IPv6 one
//   search   (js_content of /norrow/relay/SERVICE) checks the plug-in's
//            request, asks the cache location for it without the plug-in's
//            appid, and makes the whole answer itself: a 200's body and its
//            content type, or the relay's YDF error
//   error    (js_content of the relay's error page) that YDF error, for what
//            nginx refuses itself (the per-client rate: 429)
// Nothing of the provider's answer but a 200's XML body and its content type
// reaches a client, and never one that holds an application id.

// The answer's deadline: the plug-in waits 20 s; a provider that sends a
// byte now and then never trips nginx's time-outs between two reads.
const DEADLINE_MS = 15000;

// What the plug-in's URL builder sends after appid, in its order: [name,
// value, required]. A query value is what its encoder writes (at most
// QUERY_BYTES: the encoded "query=..." is cut below 1024 bytes); a number of
// the box is what printing a double with six decimals gives (at most 309
// digits before the point); some hosts' HTTP clients escape its commas.
const QUERY = /^(?:[0-9A-Za-z_*=+-]|%[0-9A-F]{2})*$/;
const QUERY_BYTES = 1017;
const NUMBER = '-?(?:[0-9]+\\.[0-9]{6}|nan|inf)';
const BOX = new RegExp('^' + NUMBER + '(?:(?:,|%2C)' + NUMBER + '){3}$');
const START = /^[1-9][0-9]{0,9}$/;
const PARAMETERS = {
    geocoder: [['query', QUERY, false], ['ei', /^SJIS$/, true], ['bbox', BOX, false],
               ['datum', /^wgs$/, false], ['start', START, false], ['result', /^10$/, true],
               ['output', /^xml$/, true]],
    localsearch: [['query', QUERY, false], ['bbox', BOX, false], ['start', START, false],
                  ['result', /^10$/, true], ['output', /^xml$/, true]],
};
const APPID = /^appid=[A-Za-z0-9._~-]*$/;

const ERRORS = {
    400: 'the relay passes only the plug-in\'s own search parameters',
    405: 'only GET and HEAD',
    429: 'too many searches from this address: try again in a minute',
    502: 'the search service cannot be reached',
    503: 'the day\'s searches through this server are used up: try again tomorrow',
    504: 'the search service did not answer in time',
};
// The content types of an answer that passes.
const XML_TYPE = /^(?:application|text)\/xml(?:; ?charset=[A-Za-z0-9_-]{1,20})?$/i;

function client(r) {
    return r.rawVariables.binary_remote_addr.toString('hex').slice(0, 16);
}

// The plug-in's query after its appid when it holds exactly the parameters
// that its builder sends for `service`, each once and in order; else null.
function checkedQuery(service, args) {
    const table = PARAMETERS[service];
    const parts = (args || '').split('&');
    if (!table || !APPID.test(parts[0])) {
        return null;
    }
    let next = 0;
    for (let i = 1; i < parts.length; i++) {
        const part = parts[i];
        const equals = part.indexOf('=');
        const name = equals < 0 ? part : part.slice(0, equals);
        while (next < table.length && table[next][0] !== name && !table[next][2]) {
            next++;
        }
        const value = part.slice(equals + 1);
        if (equals < 0 || next === table.length || table[next][0] !== name || !table[next][1].test(value)
            || value.length > (name === 'query' ? QUERY_BYTES : 4 * 317 + 3 * 3)) {
            return null;
        }
        next++;
    }
    const missing = table.slice(next).some((p) => p[2]);
    const searched = parts.some((p) => p.startsWith('query=') || p.startsWith('bbox='));
    return missing || !searched ? null : parts.slice(1).join('&');
}

// Whether `bytes` hold one of the application ids `ids` (blank-separated),
// in one-byte text or as UTF-16.
function holdsId(bytes, ids) {
    return ids.split(' ').some((id) => id !== ''
        && (bytes.indexOf(id) >= 0 || bytes.indexOf(id.split('').join('\0')) >= 0));
}

function sendError(r, status) {
    r.headersOut['Content-Type'] = 'application/xml; charset=UTF-8';
    r.return(status, '<?xml version="1.0" encoding="UTF-8"?>\n<YDF><ResultInfo><Count>0</Count><Total>0</Total>'
        + '<Status>' + status + '</Status><Description>' + (ERRORS[status] || ERRORS[502])
        + '</Description></ResultInfo></YDF>\n');
}

function error(r) {
    const status = Number(r.variables.status);
    sendError(r, ERRORS[status] ? status : 502);
}

// The answer to the client from the cache location's `reply`.
function answer(r, reply) {
    if (reply.status === 503 && reply.headersOut['X-Norrow-Relay'] === 'spent') {
        return sendError(r, 503);
    }
    const type = reply.headersOut['Content-Type'] || '';
    const body = reply.responseBuffer;
    const ids = r.variables.norrow_relay_ids;
    if (reply.status !== 200 || !body || !XML_TYPE.test(type) || holdsId(body, ids) || holdsId(type, ids)) {
        if (reply.status === 200) {
            r.warn('the search service\'s answer is not passed on: it is not XML or holds an application id');
        }
        return sendError(r, reply.status === 504 ? 504 : 502);
    }
    r.headersOut['Content-Type'] = type;
    r.return(200, body);
}

function search(r) {
    if (r.method !== 'GET' && r.method !== 'HEAD') {
        r.headersOut['Allow'] = 'GET, HEAD';
        return sendError(r, 405);
    }
    const service = r.uri.slice(r.uri.lastIndexOf('/') + 1);
    const query = checkedQuery(service, r.variables.args);
    if (query === null) {
        return sendError(r, 400);
    }
    let answered = false;
    const deadline = setTimeout(() => {
        answered = true;
        sendError(r, 504);
    }, DEADLINE_MS);
    r.subrequest('/norrow/relay/cache/' + service, { args: query, method: 'GET' }, (reply) => {
        if (!answered) {
            answered = true;
            clearTimeout(deadline);
            answer(r, reply);
        }
    });
}

export default { client, search, error, PARAMETERS };
