#pragma once

#include <QJsonObject>

namespace pim {
class Contact;
}

namespace cli {
// {"_id", "src_id", "full_name", "entities": {"<type>": [{"_id", "src_id", "dataN": text…}]}}: every non-empty
// column by name, data15 (photo bytes) as Base64.
QJsonObject contactToJson(const pim::Contact &contact);
} // namespace cli
