#include "events.h"

#include "json_text.h"
#include "times.h"

namespace kvprtd {

std::string eventJson(const Event& e) {
    return ObjectText()
        .add("id", e.id)
        .add("time", rfc3339(e.time))
        .add("printer", e.printer)
        .add("kind", e.kind)
        .add("text", e.text)
        .addText("data", e.data)
        .done();
}

}  // namespace kvprtd
