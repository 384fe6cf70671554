# The update server's host name is fixed at build time. It must be a bare host
# name (or IPv4 address): no scheme, path, port, credentials, space or query,
# since the package URL is "http://" + host + "/update/app.asar".
function(velmora_check_update_host host)
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  string(LENGTH "${host}" length)
  if(length EQUAL 0 OR length GREATER 253 OR NOT host MATCHES "^${label}(\\.${label})*$")
    message(FATAL_ERROR
      "UPDATE_HOST='${host}' is not a bare host name. Give only the update server's "
      "name, such as updates.example.com: no http://, no path, no :port, no spaces, no query.")
  endif()
endfunction()
