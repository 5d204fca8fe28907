<?php
// Norrow's search relay: the nginx snippets that install-config makes of a
// checked configuration, for the site (nginx.conf) to include from the
// configuration's folder:
//   relay-upstreams.conf  (http level) the rate per client, the resolver, the
//                         CAs that the providers' certificates must chain
//                         to, the daily budget, and for the inner server
//                         each relayed service's address with its secret
//                         application id, Host and certificate name
//   relay-locations.conf  (inside the site's location /norrow/relay/) for
//                         each relayed service its public location, and the
//                         cache location
// Both are written as the configuration is: mode 0640, readable by the
// service's group only (the first holds the ids).
declare(strict_types=1);

const RELAY_FILES = ['upstreams' => 'relay-upstreams.conf', 'locations' => 'relay-locations.conf'];
const SYSTEM_CAS = '/etc/ssl/certs/ca-certificates.crt';
const RESOLV_CONF = '/etc/resolv.conf';

final class RelayError extends Exception
{
}

// The two snippets (keys of RELAY_FILES) for checked $settings. $routes
// ("NAME:PORT" => "ADDR:PORT") makes the relay connect elsewhere for an
// upstream, still checking its certificate for NAME (to try the relay
// against a stand-in); $resolvers ("ADDR[:PORT]", by default the
// nameservers of /etc/resolv.conf) resolve the others' names. Throws
// RelayError when a name would have no resolver.
function relay_snippets(array $settings, array $routes = [], ?array $resolvers = null): array
{
    $head = "# Made by install-config from the server-information configuration: install\n"
          . "# another configuration to change it, never edit this file.\n";
    $services = relayed_services($settings);
    $relay = $settings['relay'] ?? [];
    $perMinute = $relay['requests_per_minute'] ?? 1;
    // A client may send requests_per_minute requests at once, then one more
    // each 60/requests_per_minute seconds.
    $upstreams = $head . "# It holds the secret application ids.\n"
        . 'limit_req_zone $norrow_client zone=norrow_relay_rate:10m rate=' . $perMinute . "r/m;\n"
        . 'proxy_ssl_trusted_certificate ' . ($relay['upstream_ca'] ?? SYSTEM_CAS) . ";\n"
        . 'map $uri $norrow_relay_budget {' . "\n    default " . ($relay['daily_budget'] ?? DEFAULT_DAILY_BUDGET)
        . ";\n}\n";
    $maps = ['target' => '', 'authority' => '', 'ssl_name' => ''];
    $ids = [];
    $locations = $head;
    $named = false;
    foreach ($services as $service) {
        ['host' => $host, 'port' => $port, 'path' => $path] = $settings[$service]['upstream'];
        $authority = $port === 443 ? $host : "$host:$port";
        $route = $routes["$host:$port"] ?? null;
        $named = $named || $route === null;
        $key = "    /norrow/relay/cache/$service ";
        $target = 'https://' . ($route ?? "$host:$port") . "$path?appid={$settings[$service]['appid']}&";
        $maps['target'] .= "$key\"$target\";\n";
        $maps['authority'] .= $key . "\"$authority\";\n";
        $maps['ssl_name'] .= $key . '"' . trim($host, '[]') . "\";\n";
        $ids[] = $settings[$service]['appid'];
        $locations .= 'location = ' . RELAY_PATHS[$service] . " {\n"
            . '    limit_req zone=norrow_relay_rate'
            . ($perMinute > 1 ? ' burst=' . ($perMinute - 1) : '')
            . " nodelay;\n    js_content norrow_relay.search;\n}\n";
    }
    foreach ($maps as $name => $lines) {
        $upstreams .= "map \$uri \$norrow_relay_$name {\n    default \"\";\n$lines}\n";
    }
    $upstreams .= 'js_var $norrow_relay_ids "' . implode(' ', array_unique($ids)) . "\";\n";
    if ($named) {
        $resolvers ??= system_resolvers();
        if ($resolvers === []) {
            throw new RelayError('no nameserver in ' . RESOLV_CONF . ' to resolve the upstreams\' names');
        }
        // Each name lives as long as its answer says; a look-up takes 3 s at most.
        $upstreams .= 'resolver ' . implode(' ', $resolvers) . ";\nresolver_timeout 3s;\n";
    }
    if ($services === []) {
        $locations .= "# No service is relayed.\n";
    } else {
        // The cache (when cache_seconds > 0) is keyed by the service and the
        // query after the plug-in's appid: no id is in a key.
        $cacheSeconds = $relay['cache_seconds'] ?? 0;
        $locations .= "location /norrow/relay/cache/ {\n    internal;\n"
            . ($cacheSeconds > 0 ? "    proxy_cache norrow_relay;\n    proxy_cache_key \$uri?\$args;\n"
                                   . "    proxy_cache_valid 200 {$cacheSeconds}s;\n" : '')
            . "    proxy_pass http://norrow_relay_inner;\n}\n";
    }
    return ['upstreams' => $upstreams, 'locations' => $locations];
}

// The nameservers of /etc/resolv.conf, as nginx's resolver takes them.
function system_resolvers(): array
{
    $text = is_readable(RESOLV_CONF) ? file_get_contents(RESOLV_CONF) : '';
    preg_match_all('/^\s*nameserver\s+([0-9A-Fa-f:.]+)\s*$/m', $text, $m);
    return array_map(fn (string $a): string => str_contains($a, ':') ? "[$a]" : $a,
                     array_values(array_filter($m[1], fn (string $a): bool => filter_var($a, FILTER_VALIDATE_IP) !== false)));
}

// What the service cannot check of a relay (it may not see the file):
// upstream_ca, when a service is relayed, must be a readable certificate.
function check_relay_files(array $settings): void
{
    $ca = $settings['relay']['upstream_ca'] ?? null;
    if ($ca === null || relayed_services($settings) === []) {
        return;
    }
    try {
        $pem = file_get_contents($ca);
        $read = $pem !== false && openssl_x509_read($pem) !== false;
    } catch (ErrorException) {  // no such file, not readable, no certificate
        $read = false;
    }
    if (!$read) {
        throw new ConfigError("[relay] upstream_ca $ca is not a readable PEM certificate");
    }
}
