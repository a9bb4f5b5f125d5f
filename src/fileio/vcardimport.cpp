#include "fileio/vcardimport.h"

#include "fileio/vcardmapper.h"
#include "fileio/vcardreader.h"

#include <QFile>

#include <stdexcept>

namespace {

// Contacts made ahead of next(): enough to keep both threads busy, few enough to hold.
constexpr size_t kReadAhead = 256;

// Thrown inside the reader's callback to leave readCards when the import stops early.
struct StopReading
{
};

} // namespace

VCardImport::~VCardImport()
{
    close();
}

void VCardImport::open(const QString &path)
{
    close();
    // Counted by a pass of the parser alone (keeping no card; the mapping is the costly part), so the total is exact.
    // The file is read a piece at a time, here and by the reader thread, so that a file of any size takes little
    // memory.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(file.errorString().toStdString());
    m_path = path;
    m_count = 0;
    m_taken = 0;
    m_skippedLines = 0;
    m_count = vcard::detail::countCards(file, &m_skippedLines);
    m_ready.clear();
    m_readerDone = false;
    m_stop = false;
    m_error = nullptr;
    m_reader = std::thread([this] { readAhead(); });
}

void VCardImport::readAhead()
{
    try {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error(file.errorString().toStdString());
        vcard::detail::CardMapper mapper;
        vcard::detail::readCards(file, [this, &mapper](const vcard::detail::CardView &card) {
            pim::Contact contact = mapper.contact(card);
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kReadAhead; });
            if (m_stop)
                throw StopReading();
            m_ready.push_back(std::move(contact));
            m_changed.notify_all();
        });
    } catch (const StopReading &) {
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
    }
    std::lock_guard lock(m_mutex);
    m_readerDone = true;
    m_changed.notify_all();
}

void VCardImport::next(pim::Contact &out)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_readerDone; });
    if (m_ready.empty()) {
        if (m_error)
            std::rethrow_exception(m_error);
        throw std::runtime_error("VCardImport: fewer cards than counted");
    }
    // Handed over rather than copied: its memory (photos) goes with it as the import proceeds.
    out = std::move(m_ready.front());
    m_ready.pop_front();
    ++m_taken;
    m_changed.notify_all();
}

void VCardImport::close()
{
    if (m_reader.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_reader.join();
    }
    m_ready.clear();
}
