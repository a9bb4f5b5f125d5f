#include "contacts/log.h"

Q_LOGGING_CATEGORY(lcContacts, "contactmover.contacts")
Q_LOGGING_CATEGORY(lcContactEdit, "contactmover.contacts.edit", QtInfoMsg)
