<?php
// The search relay's overall ceiling, asked by nginx (auth_request in the
// relay's inner server) before each request to the provider: 204 lets it
// go, 403 refuses it; anything wrong is a 500, which refuses it too.
//
// At most NORROW_RELAY_BUDGET (R, 1 to 1,000,000) requests go out in any 24
// hours: S = max(1, floor(R / 1440)) at once (one minute's share), then one
// each T = 86400 / (R - S + 1) seconds (the generic cell rate algorithm).
// n requests let through within less than 24 hours need n <= S + (24 h / T)
// - 1 = R. nginx's limit_req cannot say this: its slowest rate is one a
// minute (1,440 a day), its burst comes on top of the rate, and it forgets
// on a restart. The state, one number (when the next request may go once
// the burst is spent), is kept in NORROW_RELAY_STATE under a lock, so it
// holds across restarts and across PHP-FPM's workers.
declare(strict_types=1);

const DAY_SECONDS = 86400;

// Whether a request at $now may go, for $budget a day, by the state in
// $file (updated when it may). Throws RuntimeException when the state is
// unusable.
function take_request(string $file, int $budget, float $now): bool
{
    $burst = max(1, intdiv($budget, 1440));
    $spacing = DAY_SECONDS / ($budget - $burst + 1);
    $handle = fopen($file, 'c+');
    if ($handle === false || !flock($handle, LOCK_EX)) {
        throw new RuntimeException("cannot open and lock $file");
    }
    try {
        $text = stream_get_contents($handle);
        if ($text !== '' && !is_numeric($text)) {
            throw new RuntimeException("$file does not hold a time: remove it to start afresh");
        }
        // At most one burst ahead: so it always is under one budget, and a
        // changed budget starts from there.
        $next = min(max((float) $text, $now), $now + $burst * $spacing);
        if ($next - ($burst - 1) * $spacing > $now) {
            return false;
        }
        $written = sprintf('%.6F', $next + $spacing);
        if (!ftruncate($handle, 0) || !rewind($handle) || fwrite($handle, $written) !== strlen($written)
            || !fflush($handle)) {
            throw new RuntimeException("cannot write $file");
        }
        return true;
    } finally {
        flock($handle, LOCK_UN);
        fclose($handle);
    }
}

// The verdict, when PHP-FPM runs this (the tests load the function alone).
if (PHP_SAPI !== 'fpm-fcgi') {
    return;
}
set_error_handler(function (int $level, string $message): bool {
    throw new ErrorException($message, 0, $level);
});
try {
    $budget = filter_var($_SERVER['NORROW_RELAY_BUDGET'] ?? '', FILTER_VALIDATE_INT,
                         ['options' => ['min_range' => 1, 'max_range' => 1000000]]);
    $file = $_SERVER['NORROW_RELAY_STATE'] ?? '';
    if ($budget === false || $file === '') {
        throw new RuntimeException('NORROW_RELAY_BUDGET or NORROW_RELAY_STATE is not set right');
    }
    http_response_code(take_request($file, $budget, microtime(true)) ? 204 : 403);
} catch (Throwable $e) {
    error_log('relay budget: ' . $e->getMessage());
    http_response_code(500);
}
