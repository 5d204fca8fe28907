-- The plug-in's server-information request (serverinfo_post.lua), each from
-- a client address of its own (client_address.lua).
dofile("bench/serverinfo_post.lua")
dofile("bench/client_address.lua")

request = function()
  wrk.headers["X-Forwarded-For"] = client_address()
  return wrk.format()
end
