-- wrk: malformed requests to the server information, one kind after another
-- (run_server_tests.py, the flood). Made in init, when wrk knows the Host.
local kinds = {}
local n = 0

local function part(disposition, value)
  return "--kiritori\r\nContent-Disposition: form-data; name=\"version\"" .. disposition ..
         "\r\n\r\n" .. value .. "\r\n--kiritori--\r\n"
end

init = function(args)
  local path = wrk.path
  local multipart = {["Content-Type"] = "multipart/form-data; boundary=kiritori"}
  local function post(headers, body)
    return wrk.format("POST", path, headers, body)
  end
  kinds = {
    post({["Content-Type"] = "multipart/form-data"}, part("", "1000")),
    post(multipart, part("; filename=\"version.txt\"", "1000")),
    post(multipart, part("", "1000\n")),
    post(multipart, string.rep("x", 5000)),
    post({["Content-Type"] = "text/plain"}, "\0\1\2\255"),
    wrk.format("GET", path),
    "POST " .. path .. " HTTP/1.1\r\nHost: " .. wrk.headers["Host"] .. "\r\n" ..
      "Content-Type: multipart/form-data; boundary=kiritori\r\nTransfer-Encoding: chunked\r\n\r\n" ..
      "52\r\n" .. part("", "1000") .. "\r\n0\r\n\r\n",
    "BREW " .. path .. " HTCPCP/1.0\r\n\r\n",
  }
end

request = function()
  n = n + 1
  return kinds[n % #kinds + 1]
end

-- Each thread counts the statuses it got; done prints them ("status 429: N").
local threads = {}
setup = function(thread)
  table.insert(threads, thread)
end

statuses = {}
response = function(status)
  statuses[status] = (statuses[status] or 0) + 1
end

done = function()
  local total = {}
  for _, thread in ipairs(threads) do
    for status, count in pairs(thread:get("statuses")) do
      total[status] = (total[status] or 0) + count
    end
  end
  for status, count in pairs(total) do
    print(string.format("status %d: %d", status, count))
  end
end
