#pragma once

// Inside the card layer: turns the cards of vcardreader.h into contacts. One mapper serves a whole file, so
// that what is looked up per value (the text codec a CHARSET names) is looked up once.

#include "contacts/pim.h"
#include "fileio/vcard.h"
#include "fileio/vcardreader.h"

#include <memory>

namespace vcard::detail {

class CardMapper
{
public:
    CardMapper();
    ~CardMapper();
    CardMapper(const CardMapper &) = delete;
    CardMapper &operator=(const CardMapper &) = delete;

    // The contact of one card; its full name is empty when the card has no usable name (N or FN).
    pim::Contact contact(const CardView &card);
    // The value decoded with the codec named by CHARSET, or as the local 8-bit encoding when there is none or
    // no codec has that name.
    QString text(const PropertyView &property);

private:
    struct Codecs;
    std::unique_ptr<Codecs> m_codecs;
};

// Views of the properties of a vcard::Card, kept in the buffers given.
struct CardViews
{
    std::vector<QByteArray> texts;
    std::vector<ParamView> params;
    CardView card;
};

// Views of a card's properties: the texts as UTF-8, the parameters (already one per name, in name order) as
// they are, the values shared.
CardViews cardViews(const Card &card);

} // namespace vcard::detail
