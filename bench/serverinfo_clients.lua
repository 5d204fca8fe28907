-- The plug-in's server-information request (serverinfo_post.lua), each from
-- a client address of its own, given in X-Forwarded-For: the many plug-ins
-- that one machine stands in for (serve-info --forwarded-for).
dofile("bench/serverinfo_post.lua")

local threads = 0
setup = function(thread)
  threads = threads + 1
  thread:set("first_octet", 10 + threads)
end

local sent = 0
request = function()
  sent = sent + 1
  wrk.headers["X-Forwarded-For"] = string.format("%d.%d.%d.%d", first_octet,
      math.floor(sent / 65536) % 256, math.floor(sent / 256) % 256, sent % 256)
  return wrk.format()
end
