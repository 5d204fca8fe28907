<?php
// Norrow's search relay: the nginx snippets that install-config makes of a
// checked configuration, for the site (nginx.conf) to include from the
// configuration's folder:
//   relay-upstreams.conf  (http level) the rate per client address, and an
//                         upstream group for each relayed service
//   relay-locations.conf  (inside the site's location /norrow/relay/) the
//                         limit, the CAs that the upstreams' certificates
//                         must chain to, the cache, and for each relayed
//                         service a location that passes the plug-in's query
//                         on with the secret application id in place of its own
// The second holds the application ids, so it is written as the
// configuration is: mode 0640, readable by the service's group only.
declare(strict_types=1);

const RELAY_FILES = ['upstreams' => 'relay-upstreams.conf', 'locations' => 'relay-locations.conf'];
const SYSTEM_CAS = '/etc/ssl/certs/ca-certificates.crt';

// The two snippets (keys of RELAY_FILES) for checked $settings. $routes
// ("NAME:PORT" => "ADDR:PORT") makes the relay connect elsewhere for an
// upstream, still checking its certificate for NAME (to try the relay
// against a stand-in).
function relay_snippets(array $settings, array $routes = []): array
{
    $head = "# Made by install-config from the server-information configuration: install\n"
          . "# another configuration to change it, never edit this file.\n";
    $services = relayed_services($settings);
    if ($services === []) {
        return array_fill_keys(array_keys(RELAY_FILES), $head . "# No service is relayed.\n");
    }
    $relay = $settings['relay'];
    $perMinute = $relay['requests_per_minute'];
    $cacheSeconds = $relay['cache_seconds'] ?? 0;
    $upstreams = $head . "limit_req_zone \$binary_remote_addr zone=norrow_relay_rate:10m rate={$perMinute}r/m;\n";
    // A client may send requests_per_minute requests at once, then one more
    // each 60/requests_per_minute seconds.
    $locations = $head . "# It holds the secret application ids.\n"
        . 'limit_req zone=norrow_relay_rate' . ($perMinute > 1 ? ' burst=' . ($perMinute - 1) : '') . " nodelay;\n"
        . 'proxy_ssl_trusted_certificate ' . ($relay['upstream_ca'] ?? SYSTEM_CAS) . ";\n"
        . ($cacheSeconds > 0 ? "proxy_cache norrow_relay;\nproxy_cache_valid 200 {$cacheSeconds}s;\n" : '');
    foreach ($services as $service) {
        ['host' => $host, 'port' => $port, 'path' => $path] = $settings[$service]['upstream'];
        $authority = $port === 443 ? $host : "$host:$port";
        $group = "norrow_relay_$service";
        $server = $routes["$host:$port"] ?? "$host:$port";
        $upstreams .= "upstream $group {\n    server $server;\n    keepalive 8;\n}\n";
        // The plug-in puts appid= first; the map of the site gives the rest
        // of its query, as sent, or "!" when it does not start so.
        $locations .= 'location = ' . RELAY_PATHS[$service] . " {\n"
            . "    if (\$norrow_relay_query = \"!\") {\n        return 400;\n    }\n"
            . "    if (\$request_method !~ ^(GET|HEAD)\$) {\n        return 405;\n    }\n"
            . "    proxy_pass \"https://$group$path?appid={$settings[$service]['appid']}\$norrow_relay_query\";\n"
            . "    proxy_set_header Host \"$authority\";\n"
            . "    proxy_set_header User-Agent \$http_user_agent;\n"
            . "    proxy_set_header Connection \"\";\n"
            . '    proxy_ssl_name "' . trim($host, '[]') . "\";\n"
            . ($cacheSeconds > 0 ? "    proxy_cache_key \"https://$authority$path?\$norrow_relay_query\";\n" : '')
            . "}\n";
    }
    return ['upstreams' => $upstreams, 'locations' => $locations];
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
