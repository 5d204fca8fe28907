<?php
// Norrow's server-information configuration: the rules by which the INI file
// is read (stated at the top of serverinfo.example.ini), the table of its
// sections and settings with a checker for each kind of value, and the
// answers that a configuration gives. The service (downloadinfo.php) and the
// command that installs a configuration (install-config) both load a file
// with load_answers(), so they refuse exactly the same files.
declare(strict_types=1);

// The plug-in reads at most 1023 bytes of a line, its CR included.
const LINE_BYTES = 1022;

// Where the plug-ins reach a relayed service: on [relay] public_host, port
// 80, at the path of its service, with an application id that means nothing
// (the relay puts the real one in its place).
const RELAY_PATHS = ['geocoder' => '/norrow/relay/geocoder', 'localsearch' => '/norrow/relay/localsearch'];
const RELAY_PORT = 80;
const RELAY_APPID = '-';
// Requests that the relay as a whole sends to the provider in any 24 hours,
// when [relay] daily_budget does not say.
const DEFAULT_DAILY_BUDGET = 45000;

final class ConfigError extends Exception
{
}

// One setting of the table: its checker takes the text of the value and
// returns the value, or throws ConfigError with the reason ("must be ...").
final class Setting
{
    public function __construct(
        public readonly Closure $check,
        public readonly bool $required = true,
        public readonly bool $list = false,  // written key[] = ..., once a line, in order
        public readonly bool $direct = false,  // only for a service without upstream: required
                                               // there, refused beside upstream
    ) {
    }
}

// Every section and setting a configuration may hold. A section whose
// settings are all optional may be left out, and so may [relay] when no
// service has an upstream.
function configuration_table(): array
{
    $endpoint = [
        'host' => new Setting(check_host(...), direct: true),
        'path' => new Setting(check_path(...), direct: true),
        'referer' => new Setting(check_field_text(...)),
        'port' => new Setting(fn (string $v): int => check_whole_number($v, 1, 65535), direct: true),
        'appid' => new Setting(check_appid(...)),
        'upstream' => new Setting(check_upstream(...), required: false),
    ];
    return [
        'serverinfo' => [
            'lowest_version' => new Setting(fn (string $v): int => check_whole_number($v, 0, 999999999)),
            'max_page' => new Setting(fn (string $v): int => check_whole_number($v, 1, 100)),
            'user_message' => new Setting(check_message_line(...), required: false, list: true),
            'update_message' => new Setting(check_message_line(...), list: true),
        ],
        'geocoder' => $endpoint,
        'localsearch' => $endpoint,
        'relay' => [
            'public_host' => new Setting(check_host(...)),
            'requests_per_minute' => new Setting(fn (string $v): int => check_whole_number($v, 1, 60000)),
            'cache_seconds' => new Setting(fn (string $v): int => check_whole_number($v, 0, 86400),
                                           required: false),
            'upstream_ca' => new Setting(check_file_path(...), required: false),
            'daily_budget' => new Setting(fn (string $v): int => check_whole_number($v, 1, 1000000),
                                          required: false),
        ],
    ];
}

// -- the checkers, one for each kind of value --------------------------------

// A decimal number from $low to $high, digits only.
function check_whole_number(string $value, int $low, int $high): int
{
    if (preg_match('/\A[0-9]{1,9}\z/', $value) !== 1 || (int) $value < $low || (int) $value > $high) {
        throw new ConfigError("must be a whole number from $low to $high");
    }
    return (int) $value;
}

// A DNS name (letters, digits and hyphens in dot-separated labels) or an IP
// address: what the plug-in passes as the server of its HTTP request.
function check_host(string $value): string
{
    $label = '[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?';
    $name = preg_match("/\\A$label(?:\\.$label)*\\z/", $value) === 1 && strlen($value) <= 253
        && preg_match('/(?:\A|\.)[0-9]+\z/', $value) !== 1;  // all digits at the end: a broken address
    if (!$name && filter_var($value, FILTER_VALIDATE_IP) === false) {
        throw new ConfigError('must be a DNS name or an IP address, without scheme, port or path');
    }
    return $value;
}

// The start of the URL path the plug-in requests: printable ASCII after "/",
// without the characters that would end the path or split the endpoint line.
function check_path(string $value): string
{
    if (preg_match('/\A\/[\x21-\x7E]*\z/', $value) !== 1 || strpbrk($value, '?#,') !== false) {
        throw new ConfigError('must start with / and hold only printable ASCII without blanks, ?, # or ,');
    }
    return $value;
}

// An application id: only what a URL query carries unescaped.
function check_appid(string $value): string
{
    if (preg_match('/\A[A-Za-z0-9._~-]+\z/', $value) !== 1) {
        throw new ConfigError('must be one or more of A-Z a-z 0-9 . _ ~ -');
    }
    return $value;
}

// The HTTPS address of a service that the relay passes the plug-ins'
// searches to: https://HOST[:PORT]/PATH, without a query. It goes into the
// relay's nginx configuration, so nothing in it may mean more to nginx (no
// "$", blank, quote, ";" or brace). Returns its host, port and path.
function check_upstream(string $value): array
{
    $pattern = '/\Ahttps:\/\/([^\/:\[\]]+|\[[0-9A-Fa-f:.]+\])(?::([0-9]{1,5}))?(\/(?:[A-Za-z0-9._~\/-]|%[0-9A-Fa-f]{2})*)\z/';
    $why = 'must be https://HOST[:PORT]/PATH: a DNS name or an IP address, a port from 1 to 65535,'
           . ' a path of A-Z a-z 0-9 . _ ~ - / and %XX, no query';
    if (preg_match($pattern, $value, $m) !== 1) {
        throw new ConfigError($why);
    }
    [, $host, $port, $path] = $m;
    $bare = trim($host, '[]');
    if ($bare !== $host && filter_var($bare, FILTER_VALIDATE_IP, FILTER_FLAG_IPV6) === false) {
        throw new ConfigError($why);
    }
    if ($bare === $host) {
        try {
            check_host($host);
        } catch (ConfigError) {
            throw new ConfigError($why);
        }
    }
    $port = $port === '' ? 443 : (int) $port;
    if ($port < 1 || $port > 65535) {
        throw new ConfigError($why);
    }
    if (filter_var($bare, FILTER_VALIDATE_IP) !== false) {
        throw new ConfigError('must name its host by a DNS name, not an IP address: nginx checks the'
                              . " provider's certificate only against a DNS name, so an address never passes");
    }
    return ['host' => $host, 'port' => $port, 'path' => $path];
}

// The absolute path of a file that nginx reads, in characters that mean
// nothing more to nginx. Whether the file is there is install-config's to
// check: the service may not see that folder.
function check_file_path(string $value): string
{
    if (preg_match('/\A\/[A-Za-z0-9._\/+-]+\z/', $value) !== 1) {
        throw new ConfigError('must be an absolute path of A-Z a-z 0-9 . _ - + and /');
    }
    return $value;
}

// A free text inside an endpoint line: no comma, which separates its fields.
function check_field_text(string $value): string
{
    if (str_contains($value, ',')) {
        throw new ConfigError('must not contain a comma');
    }
    return check_sjis_text($value);
}

// One line of a message. The plug-in shows "_" as a line break, so "_" itself
// cannot be shown, and is refused.
function check_message_line(string $value): string
{
    if (str_contains($value, '_')) {
        throw new ConfigError('must not contain "_": the plug-in shows it as a line break'
                              . ' (give one line of the message per entry)');
    }
    return check_sjis_text($value);
}

// One line of text that code page 932 holds as it stands (not "?" or another
// character).
function check_sjis_text(string $value): string
{
    if (preg_match('/[\x00-\x1F\x7F]/', $value) === 1) {
        throw new ConfigError('holds a control character');
    }
    $sjis = mb_convert_encoding($value, 'CP932', 'UTF-8');
    if (mb_convert_encoding($sjis, 'UTF-8', 'CP932') !== $value) {
        throw new ConfigError('holds a character that code page 932 cannot hold: ' . $value);
    }
    return $value;
}

// -- reading ------------------------------------------------------------------

// The bytes of the configuration file at $path, read whole at once.
function read_configuration(string $path): string
{
    try {
        $text = file_get_contents($path);  // one call: each file call costs a check of open_basedir
    } catch (ErrorException) {        // no such file, a folder, not readable
        $text = false;
    }
    if ($text === false) {
        throw new ConfigError("$path: no such readable file");
    }
    return $text;
}

// The settings of configuration $text, by the rules stated at the top of
// serverinfo.example.ini; $name is the file's, for the messages.
function parse_configuration(string $text, string $name): array
{
    $table = configuration_table();
    $lines = explode("\n", str_starts_with($text, "\u{FEFF}") ? substr($text, 3) : $text);
    $last = array_pop($lines);  // what follows the last line break
    $fail = function (int $number, string $reason) use ($name): never {
        throw new ConfigError("$name:$number: $reason");
    };
    if ($last !== '') {
        $fail(count($lines) + 1, 'the last line does not end with a line break: the file may be cut short');
    }
    if (!mb_check_encoding($text, 'UTF-8')) {
        foreach ($lines as $index => $line) {
            if (!mb_check_encoding($line, 'UTF-8')) {
                $fail($index + 1, 'is not UTF-8');
            }
        }
    }
    $settings = [];  // section => key => value
    $seen = [];      // "section" and "section key" => the line that gave it
    $section = null;
    foreach ($lines as $index => $line) {
        $number = $index + 1;
        $line = trim(str_ends_with($line, "\r") ? substr($line, 0, -1) : $line, " \t");
        if ($line === '' || $line[0] === ';') {
            continue;
        }
        if ($line[0] === '[' && preg_match('/\A\[([^\]]*)\]\z/', $line, $m) === 1) {
            $section = $m[1];
            if (!isset($table[$section])) {
                $fail($number, "[$section] is not a section");
            }
            if (isset($seen[$section])) {
                $fail($number, "section [$section] is given twice (first on line {$seen[$section]})");
            }
            $seen[$section] = $number;
            $settings[$section] = [];
            continue;
        }
        if (preg_match('/\A([^ \t=\[\]";]+)(\[\])?[ \t]*=[ \t]*(.*)\z/', $line, $m) !== 1) {
            $fail($number, 'is neither a setting (key = value), a [section] nor a comment (;)');
        }
        [, $key, $brackets, $raw] = $m;
        if ($section === null) {
            $fail($number, "$key is outside a section");
        }
        $setting = $table[$section][$key] ?? null;
        if ($setting === null) {
            $fail($number, "[$section] $key is not a setting");
        }
        if ($setting->list !== ($brackets !== '')) {
            $fail($number, $setting->list ? "[$section] $key is a list: write {$key}[] = ..., once a line"
                                          : "[$section] $key takes one value: write $key = ...");
        }
        if (!$setting->list && isset($seen["$section $key"])) {
            $fail($number, "[$section] $key is given twice (first on line " . $seen["$section $key"] . ')');
        }
        $seen["$section $key"] ??= $number;
        try {
            $value = ($setting->check)(unquote($raw));
        } catch (ConfigError $e) {
            $fail($number, "[$section] $key " . $e->getMessage());
        }
        if ($setting->list) {
            $settings[$section][$key][] = $value;
        } else {
            $settings[$section][$key] = $value;
        }
    }
    $relayed = relayed_services($settings);
    foreach ($table as $section => $keys) {
        if ($section === 'relay' && $relayed === [] && !isset($seen[$section])) {
            continue;
        }
        foreach ($keys as $key => $setting) {
            $given = isset($settings[$section][$key]);
            if ($setting->direct && in_array($section, $relayed, true)) {
                if ($given) {
                    $fail($seen["$section $key"], "[$section] $key is not used beside upstream: plug-ins"
                                                  . ' reach a relayed service at [relay] public_host');
                }
                continue;
            }
            if (!$setting->required || $given) {
                continue;
            }
            if (!isset($seen[$section])) {
                throw new ConfigError("$name: section [$section] is missing"
                                      . ($section === 'relay' ? ' (a service has an upstream)' : ''));
            }
            $fail($seen[$section], "[$section] $key is missing");
        }
    }
    return $settings;
}

// The services of checked $settings that the relay serves.
function relayed_services(array $settings): array
{
    return array_values(array_filter(array_keys(RELAY_PATHS),
                                     fn (string $s): bool => isset($settings[$s]['upstream'])));
}

// The text of a value: inside double quotes, or bare, without the blanks
// around it. A double quote anywhere else is refused.
function unquote(string $raw): string
{
    $raw = rtrim($raw, " \t");
    if (!str_starts_with($raw, '"')) {
        if (str_contains($raw, '"')) {
            throw new ConfigError('holds a double quote inside its value');
        }
        return $raw;
    }
    $close = strpos($raw, '"', 1);
    if ($close === false) {
        throw new ConfigError('has no closing double quote');
    }
    if ($close !== strlen($raw) - 1) {
        throw new ConfigError(str_contains(substr($raw, $close + 1), '"')
            ? 'holds a double quote inside its value' : 'has text after its closing double quote');
    }
    return substr($raw, 1, -1);
}

// -- the answers ----------------------------------------------------------------

// The checked configuration, as the answers it can give.
final class Answers
{
    public function __construct(
        public readonly int $lowestVersion,
        public readonly string $current,  // for a plug-in at lowestVersion or later
        public readonly string $tooOld,   // USER_MESSAGE and DENIED
        public readonly array $settings,  // the checked settings (install-config makes the relay of them)
    ) {
    }
}

// Reads and checks the configuration file at $path; throws ConfigError
// naming the file, the line and the fault.
function load_answers(string $path): Answers
{
    return answers_of(read_configuration($path), $path);
}

// The answers of configuration $text; $name is its file's, for the messages.
function answers_of(string $text, string $name): Answers
{
    if (!function_exists('mb_convert_encoding')) {
        throw new ConfigError('the PHP extension mbstring is missing');
    }
    $settings = parse_configuration($text, $name);
    try {
        return answers_from($settings);
    } catch (ConfigError $e) {
        throw new ConfigError("$name: " . $e->getMessage());
    }
}

// The answers that checked settings give.
function answers_from(array $settings): Answers
{
    $info = $settings['serverinfo'];
    $lines = ['SERVERINFO'];
    foreach (['GEOCODER' => 'geocoder', 'LOCALSEARCH' => 'localsearch'] as $key => $name) {
        $s = $settings[$name];
        if (isset($s['upstream'])) {  // the relay; its application id stays here
            $s = ['host' => $settings['relay']['public_host'], 'path' => RELAY_PATHS[$name],
                  'port' => RELAY_PORT, 'appid' => RELAY_APPID] + $s;
        }
        $lines[] = "$key {$s['host']},{$s['path']},{$s['referer']},{$s['port']},{$s['appid']}";
    }
    $lines[] = "MAXPAGE {$info['max_page']}";
    $update = implode('_', $info['update_message']);
    if ($update === '') {
        throw new ConfigError('[serverinfo] update_message is empty');
    }
    if (isset($info['user_message'])) {
        $lines[] = 'USER_MESSAGE ' . implode('_', $info['user_message']);
    }
    return new Answers(
        $info['lowest_version'],
        answer_text($lines),
        answer_text(['SERVERINFO', "USER_MESSAGE $update", 'DENIED']),
        $settings
    );
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
