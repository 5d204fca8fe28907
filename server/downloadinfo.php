<?php
// Norrow's server information: answers the plug-in's POST to
// /norrow/downloadinfo.php.
//
// The request is multipart/form-data with one field, "version" (the plug-in
// sends 1000). The answer is the server-information text: SERVERINFO, one
// GEOCODER and one LOCALSEARCH line (host,path,referer,port,appid), MAXPAGE
// and, when configured, USER_MESSAGE (line breaks written as "_"); lines end
// with CR LF, the whole text is Shift-JIS (code page 932).
//
//   GET, HEAD, ...                     405, Allow: POST
//   no multipart "version", not a number   SERVERINFO, DENIED
//   version below lowest_version           SERVERINFO, USER_MESSAGE, DENIED
//   missing or broken configuration        500 and one line in the error log
//
// The configuration is the UTF-8 INI file that the FastCGI parameter
// NORROW_SERVERINFO_CONFIG names (see serverinfo.example.ini). It is read and
// checked whole on every request, before a byte is sent: a text that code page
// 932 cannot hold is refused, never sent as "?".
//
// From the command line, `php downloadinfo.php --check FILE` checks a
// configuration and prints the answer it gives.
declare(strict_types=1);

const ENDPOINTS = ['GEOCODER' => 'geocoder', 'LOCALSEARCH' => 'localsearch'];
const ENDPOINT_FIELDS = ['host', 'path', 'referer', 'port', 'appid'];
const SERVERINFO_KEYS = ['lowest_version', 'max_page', 'user_message', 'update_message'];
// The plug-in reads at most 1023 bytes of a line, its CR included.
const LINE_BYTES = 1022;
const DENIED = "SERVERINFO\r\nDENIED\r\n";

final class ConfigError extends Exception
{
}

// The checked configuration, as the three answers it can give.
final class Answers
{
    public function __construct(
        public readonly int $lowestVersion,
        public readonly string $current,  // for a plug-in at lowestVersion or later
        public readonly string $tooOld,   // USER_MESSAGE and DENIED
    ) {
    }
}

// Reads and checks the configuration at $path; throws ConfigError naming the
// file and the setting at fault.
function load_answers(string $path): Answers
{
    if (!function_exists('mb_convert_encoding')) {
        throw new ConfigError('the PHP extension mbstring is missing');
    }
    if (!is_file($path) || !is_readable($path)) {
        throw new ConfigError("$path: no such readable file");
    }
    $ini = parse_ini_file($path, true, INI_SCANNER_RAW);
    if ($ini === false) {
        throw new ConfigError("$path: not an INI file");
    }
    try {
        return answers_from($ini);
    } catch (ConfigError $e) {
        throw new ConfigError("$path: " . $e->getMessage());
    }
}

// The answers that the parsed INI sections give.
function answers_from(array $ini): Answers
{
    $unknown = array_diff(array_keys($ini), ['serverinfo', ...array_values(ENDPOINTS)]);
    if ($unknown) {
        throw new ConfigError('unknown section [' . implode('], [', $unknown) . ']');
    }
    $settings = section($ini, 'serverinfo', SERVERINFO_KEYS, ['lowest_version', 'max_page']);
    $lowest = whole_number('[serverinfo] lowest_version', $settings['lowest_version'], 0, 999999999);
    $maxPage = whole_number('[serverinfo] max_page', $settings['max_page'], 1, 100);

    $lines = ['SERVERINFO'];
    foreach (ENDPOINTS as $key => $name) {
        $lines[] = endpoint_line($key, $name, section($ini, $name, ENDPOINT_FIELDS, ENDPOINT_FIELDS));
    }
    $lines[] = "MAXPAGE $maxPage";
    $message = message('[serverinfo] user_message', $settings['user_message'] ?? '');
    if ($message !== '') {
        $lines[] = "USER_MESSAGE $message";
    }
    $update = message('[serverinfo] update_message', $settings['update_message'] ?? '');
    if ($update === '') {
        throw new ConfigError('[serverinfo] update_message is missing');
    }
    return new Answers($lowest, answer_text($lines),
                       answer_text(['SERVERINFO', "USER_MESSAGE $update", 'DENIED']));
}

// The settings of one section: only $allowed keys, all $required ones present.
function section(array $ini, string $name, array $allowed, array $required): array
{
    if (!isset($ini[$name]) || !is_array($ini[$name])) {
        throw new ConfigError("section [$name] is missing");
    }
    $settings = $ini[$name];
    foreach (array_keys($settings) as $key) {
        if (!in_array($key, $allowed, true)) {
            throw new ConfigError("[$name] $key is not a setting");
        }
    }
    foreach ($required as $key) {
        if (!array_key_exists($key, $settings)) {
            throw new ConfigError("[$name] $key is missing");
        }
    }
    return $settings;
}

// A decimal number from $low to $high, digits only.
function whole_number(string $where, mixed $value, int $low, int $high): int
{
    if (!is_string($value) || preg_match('/^[0-9]{1,9}$/', $value) !== 1
        || (int) $value < $low || (int) $value > $high) {
        throw new ConfigError("$where must be a whole number from $low to $high");
    }
    return (int) $value;
}

// "GEOCODER host,path,referer,port,appid": no field may hold the comma that
// separates them (the appid may: it takes the rest of the line).
function endpoint_line(string $key, string $name, array $fields): string
{
    foreach (['host', 'path', 'referer', 'appid'] as $field) {
        if (!is_string($fields[$field])) {
            throw new ConfigError("[$name] $field must be one text");
        }
        if ($field !== 'appid' && str_contains($fields[$field], ',')) {
            throw new ConfigError("[$name] $field must not contain a comma");
        }
        single_line_text("[$name] $field", $fields[$field]);
    }
    foreach (['host', 'path', 'appid'] as $field) {
        if ($fields[$field] === '') {
            throw new ConfigError("[$name] $field is empty");
        }
    }
    if (!str_starts_with($fields['path'], '/')) {
        throw new ConfigError("[$name] path must start with /");
    }
    $port = whole_number("[$name] port", $fields['port'], 1, 65535);
    return "$key {$fields['host']},{$fields['path']},{$fields['referer']},$port,{$fields['appid']}";
}

// A message as the plug-in takes it: one line per array entry (or a single
// text), joined with "_", which the plug-in shows as a line break. So "_"
// itself cannot be shown, and is refused.
function message(string $where, mixed $value): string
{
    $lines = is_array($value) ? array_values($value) : [$value];
    foreach ($lines as $line) {
        if (!is_string($line)) {
            throw new ConfigError("$where must be text");
        }
        single_line_text($where, $line);
        if (str_contains($line, '_')) {
            throw new ConfigError("$where must not contain \"_\": the plug-in shows it as a"
                                  . ' line break (give one line of the message per entry)');
        }
    }
    return implode('_', $lines);
}

// Refuses text that is not UTF-8, holds a control character, or that code
// page 932 cannot hold as it stands.
function single_line_text(string $where, string $text): void
{
    if (!mb_check_encoding($text, 'UTF-8')) {
        throw new ConfigError("$where is not UTF-8");
    }
    if (preg_match('/[\x00-\x1F\x7F]/', $text) === 1) {
        throw new ConfigError("$where holds a control character");
    }
    $sjis = mb_convert_encoding($text, 'CP932', 'UTF-8');
    if (mb_convert_encoding($sjis, 'UTF-8', 'CP932') !== $text) {
        throw new ConfigError("$where holds a character that code page 932 cannot hold: " . $text);
    }
}

// The lines in code page 932, each ended by CR LF; each within what the
// plug-in reads as one line.
function answer_text(array $lines): string
{
    $text = '';
    foreach ($lines as $line) {
        $sjis = mb_convert_encoding($line, 'CP932', 'UTF-8');
        if (strlen($sjis) > LINE_BYTES) {
            throw new ConfigError('the line "' . strtok($line, ' ') . ' ..." is longer than '
                                  . LINE_BYTES . ' bytes in Shift-JIS');
        }
        $text .= $sjis . "\r\n";
    }
    return $text;
}

// The "version" field of a multipart/form-data POST, or null when there is
// none or it is not a plain decimal number.
function requested_version(): ?int
{
    $type = strtolower($_SERVER['CONTENT_TYPE'] ?? '');
    $version = $_POST['version'] ?? null;
    if (!str_starts_with($type, 'multipart/form-data') || !is_string($version)
        || preg_match('/^[0-9]{1,9}$/', $version) !== 1) {
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
    $path = (string) ($_SERVER['NORROW_SERVERINFO_CONFIG'] ?? '');
    try {
        if ($path === '') {
            throw new ConfigError('NORROW_SERVERINFO_CONFIG is not set');
        }
        $answers = load_answers($path);
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

// php downloadinfo.php --check FILE
function check_from_command_line(array $argv): int
{
    if (count($argv) !== 3 || $argv[1] !== '--check') {
        fwrite(STDERR, "usage: php downloadinfo.php --check FILE\n");
        return 2;
    }
    try {
        $answers = load_answers($argv[2]);
    } catch (Throwable $e) {
        fwrite(STDERR, 'configuration refused: ' . $e->getMessage() . "\n");
        return 1;
    }
    echo mb_convert_encoding($answers->current, 'UTF-8', 'CP932');
    return 0;
}

// Warnings (an INI syntax error, say) are errors here.
set_error_handler(function (int $level, string $message): bool {
    throw new ErrorException($message, 0, $level);
});

if (PHP_SAPI === 'cli') {
    exit(check_from_command_line($argv));
}
serve();
