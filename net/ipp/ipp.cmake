# The IPP source of printer state: HTTP/1.1 on asio, libcups as the codec,
# and the fill of the snapshot from the decoded attributes.
target_sources(kvnetcore PRIVATE
  ipp/http.cpp
  ipp/http_response.cpp
  ipp/codec.cpp
  ipp/client.cpp
  ipp/attributes.cpp
  ipp/supplies.cpp
  ipp/trays.cpp
  ipp/reasons.cpp
  ipp/reasons_table.cpp
  ipp/fill.cpp
  ipp/jobs.cpp)
