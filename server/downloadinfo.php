<?php
// Norrow's server information: answers the plug-in's POST to
// /norrow/downloadinfo.php.
//
// The request is multipart/form-data with one field, "version" (the plug-in
// sends 1000). The answer is the server-information text: SERVERINFO, one
// GEOCODER and one LOCALSEARCH line (host,path,referer,port,appid; for a
// relayed service the relay's public host, its path, port 80 and the
// application id "-"), MAXPAGE and, when configured, USER_MESSAGE (line
// breaks written as "_"); lines end with CR LF, the whole text is Shift-JIS
// (code page 932).
//
//   GET, HEAD, ...                          405, Allow: POST
//   no multipart "version", not a number    SERVERINFO, DENIED
//   version below lowest_version            SERVERINFO, USER_MESSAGE, DENIED
//   live configuration refused              the last good one answers; one line in the error log
//   no good configuration at all            500 and one line in the error log
//
// The live configuration is the file that the FastCGI parameter
// NORROW_SERVERINFO_CONFIG names, which install-config writes, together with
// a copy beside it, FILE.last-good (configuration.php reads and checks both).
// It is read whole and checked on every request, before a byte is sent. A
// request of the plug-in's kind never writes to the error log: PHP does not
// read the body (enable_post_data_reading is off in the pool); this script
// reads the one field it needs.
declare(strict_types=1);

require __DIR__ . '/configuration.php';

const DENIED = "SERVERINFO\r\nDENIED\r\n";

// The answers of the live configuration, or, when it is refused, of the last
// good one that install-config kept beside it; each refusal is logged in one
// line. Throws ConfigError when neither can be answered.
function live_answers(string $live): Answers
{
    try {
        return load_answers($live);
    } catch (ConfigError $refused) {
        $lastGood = $live . '.last-good';
        try {
            $answers = load_answers($lastGood);
        } catch (ConfigError $e) {
            throw new ConfigError($refused->getMessage() . '; no last good configuration either: '
                                  . $e->getMessage());
        }
        error_log('norrow serverinfo: configuration refused: ' . $refused->getMessage()
                  . "; answering with the last good one, $lastGood");
        return $answers;
    }
}

// The value of the form field $name of a multipart/form-data body, or null
// when the body holds no such field (or it twice, or as a file), or is not
// multipart/form-data with a boundary.
function form_field(string $contentType, string $body, string $name): ?string
{
    $pattern = '/\Amultipart\/form-data\s*;(?:.*;)?\s*boundary=(?:"([^"]{1,70})"|([^\s;"]{1,70}))\s*(?:;|\z)/i';
    if (preg_match($pattern, $contentType, $m) !== 1) {
        return null;
    }
    $boundary = $m[1] !== '' ? $m[1] : $m[2];
    $parts = explode("--$boundary", $body);
    if (count($parts) < 3 || !str_starts_with(end($parts), '--')) {
        return null;
    }
    $found = [];
    foreach (array_slice($parts, 1, -1) as $part) {
        $end = strpos($part, "\r\n\r\n");
        if (!str_starts_with($part, "\r\n") || !str_ends_with($part, "\r\n") || $end === false) {
            return null;
        }
        $headers = substr($part, 2, $end - 2);
        $disposition = '/^content-disposition:\s*form-data\s*;\s*name=(?:"([^"]*)"|([^\s;"]+))\s*(;.*)?$/im';
        if (preg_match($disposition, $headers, $d) === 1 && ($d[1] !== '' ? $d[1] : $d[2]) === $name
            && stripos($d[3] ?? '', 'filename') === false) {
            $found[] = substr($part, $end + 4, -2);
        }
    }
    return count($found) === 1 ? $found[0] : null;
}

// The plug-in's "version" as a number, or null when the request carries none
// or one that is not 1 to 9 decimal digits.
function requested_version(): ?int
{
    $body = file_get_contents('php://input', false, null, 0, 8192);
    $version = form_field((string) ($_SERVER['CONTENT_TYPE'] ?? ''), (string) $body, 'version');
    if ($version === null || preg_match('/\A[0-9]{1,9}\z/', $version) !== 1) {
        return null;
    }
    return (int) $version;
}

function respond(int $status, string $body, array $headers = []): void
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=' . ($status === 200 ? 'Shift_JIS' : 'us-ascii'));
    header('Cache-Control: no-store');
    header('Content-Length: ' . strlen($body));
    foreach ($headers as $line) {
        header($line);
    }
    echo $body;
}

// One request: the whole answer is decided before anything is sent.
function serve(): void
{
    if (($_SERVER['REQUEST_METHOD'] ?? '') !== 'POST') {
        respond(405, "405 Method Not Allowed: only POST\n", ['Allow: POST']);
        return;
    }
    $live = (string) ($_SERVER['NORROW_SERVERINFO_CONFIG'] ?? '');
    try {
        if ($live === '') {
            throw new ConfigError('NORROW_SERVERINFO_CONFIG is not set');
        }
        $answers = live_answers($live);
    } catch (Throwable $e) {
        error_log('norrow serverinfo: configuration refused: ' . $e->getMessage());
        respond(500, "500 Internal Server Error: the server information is not configured\n");
        return;
    }
    $version = requested_version();
    if ($version === null) {
        respond(200, DENIED);
    } elseif ($version < $answers->lowestVersion) {
        respond(200, $answers->tooOld);
    } else {
        respond(200, $answers->current);
    }
}

// Warnings are errors here: nothing half-done is answered.
set_error_handler(function (int $level, string $message): bool {
    throw new ErrorException($message, 0, $level);
});

if (PHP_SAPI === 'cli') {
    fwrite(STDERR, "downloadinfo.php answers requests through PHP-FPM; use install-config\n");
    exit(2);
}
serve();
