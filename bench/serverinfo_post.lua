-- The plug-in's server-information request, for wrk: the multipart/form-data
-- POST with its one field, version 1000.
wrk.method = "POST"
wrk.headers["Content-Type"] = "multipart/form-data; boundary=kiritori"
wrk.body = "--kiritori\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n" ..
           "1000\r\n--kiritori--\r\n"
