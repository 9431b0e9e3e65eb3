// One printer's IPP service: requests encoded and responses decoded by
// libcups (used as a codec only), carried by the backend's own HTTP/1.1 on
// asio, on the backend's event loop (gateway.h). The connection is kept
// alive between requests that follow each other, holds a gateway slot while
// open, and is closed after a short idle time. Replies with Content-Length,
// chunked or up to the close are read, bounded in size and time.
//
// Every call and every callback runs on the loop's thread. A callback is
// called exactly once, unless the client is closed first.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "attributes.h"
#include "options.h"

namespace kvnet::ipp {

// What an exchange ended with: rc 0 with the response, or
//   BCE_E_CHANNEL_DOWN       the connection was refused or the host unreachable
//   BCE_E_NO_RESOURCES       no descriptor, socket buffer or memory was left
//                            for the connection: the printer was not tried
//   BCE_E_CONNECTION_RESET   the connection was closed or reset mid-exchange
//                            (also within a body that only the close ends)
//   BCE_E_TIMEOUT            no whole response within the time-out
//   BCE_E_BAD_REPLY          a response that is not HTTP, not IPP, or too large
//   BCE_E_INVALID            the printer refused the request (an HTTP error, or
//                            an IPP status of client-error or server-error);
//                            `error` names it
struct Result {
    long rc = 0;
    Response response;
    std::string error;
};
using Callback = std::function<void(Result)>;

class Client {
public:
    static std::shared_ptr<Client> create(const NetOptions& options);
    virtual ~Client() = default;

    // Get-Printer-Attributes for `attributes` (requested-attributes).
    virtual void getPrinterAttributes(std::vector<std::string> attributes, Callback done) = 0;
    // Get-Jobs, which-jobs=not-completed, with the job attributes the job list needs.
    virtual void getJobs(Callback done) = 0;
    // Cancel-Job of `jobId`, as the credentials' IPP user (else "kvprtobj").
    virtual void cancelJob(int32_t jobId, Callback done) = 0;
    // Ends every exchange without calling its callback and closes the connection.
    virtual void close() = 0;
};

}  // namespace kvnet::ipp
