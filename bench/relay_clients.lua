-- Searches through the relay, each from a client address of its own
-- (client_address.lua), as many plug-ins come. With the argument "miss"
-- (wrk URL -- miss), each is a query of its own, by a parameter that the
-- stand-in services ignore, so that the cache never answers; without it, all
-- are the URL's query.
dofile("bench/client_address.lua")

local miss = false
init = function(args)
  miss = args[1] == "miss"
end

request = function()
  local address = client_address()
  wrk.headers["X-Forwarded-For"] = address
  return wrk.format(nil, miss and string.format("%s&n=%s", wrk.path, address) or wrk.path)
end
