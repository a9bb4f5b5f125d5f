/* ebook-parse FILE.vcf: the comparison program for Evolution's contact library. Reads the file, cuts it into
 * cards at each END:VCARD line and parses every card into an EContact, keeping them all; the attributes are
 * asked for so that the library's lazy parse really happens. Prints the number of contacts. Built by
 * scripts/bench.sh against Debian's libebook1.2-dev, outside the project's own build. */

#include <libebook-contacts/libebook-contacts.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        fprintf(stderr, "usage: ebook-parse FILE.vcf\n");
        return 2;
    }
    gchar *text = NULL;
    gsize size = 0;
    GError *error = NULL;
    if (!g_file_get_contents(argv[1], &text, &size, &error)) {
        fprintf(stderr, "%s\n", error->message);
        return 1;
    }
    GPtrArray *contacts = g_ptr_array_new_with_free_func(g_object_unref);
    glong phones = 0;
    const gchar *end = text + size;
    const gchar *card = text;
    while (card < end) {
        const gchar *stop = g_strstr_len(card, end - card, "END:VCARD");
        if (!stop)
            break;
        stop += strlen("END:VCARD");
        gchar *one = g_strndup(card, stop - card);
        EContact *contact = e_contact_new_from_vcard(one);
        g_free(one);
        for (GList *a = e_vcard_get_attributes(E_VCARD(contact)); a; a = a->next) {
            if (g_ascii_strcasecmp(e_vcard_attribute_get_name(a->data), "TEL") == 0)
                ++phones;
        }
        g_ptr_array_add(contacts, contact);
        card = stop;
        while (card < end && (*card == '\r' || *card == '\n'))
            ++card;
    }
    g_free(text);
    printf("%u contacts, %ld phones\n", contacts->len, phones);
    g_ptr_array_unref(contacts);
    return 0;
}
