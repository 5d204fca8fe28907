-- Searches through the relay, each from a client address of its own
-- (client_address.lua), as many plug-ins come. With the argument "miss"
-- (wrk URL -- miss), each is a query of its own (the client's address, in
-- the letters a query may hold, before the URL's query text), so that the
-- cache never answers; without it, all are the URL's query.
dofile("bench/client_address.lua")

local miss = false
init = function(args)
  miss = args[1] == "miss"
end

request = function()
  local address = client_address()
  wrk.headers["X-Forwarded-For"] = address
  local own = "query=" .. (address:gsub("[^0-9]", "x")) .. "x"
  return wrk.format(nil, miss and (wrk.path:gsub("query=", own, 1)) or wrk.path)
end
