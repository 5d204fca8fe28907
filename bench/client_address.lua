-- A client address of its own for each request of wrk, for X-Forwarded-For
-- (serve-info --forwarded-for): the many plug-ins that one machine stands in
-- for. dofile() it; client_address() gives the next address.
local threads = 0
setup = function(thread)
  threads = threads + 1
  thread:set("first_octet", 10 + threads)
end

local sent = 0
client_address = function()
  sent = sent + 1
  return string.format("%d.%d.%d.%d", first_octet, math.floor(sent / 65536) % 256,
                       math.floor(sent / 256) % 256, sent % 256)
end
