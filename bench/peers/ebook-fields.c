/* ebook-fields FILE.vcf: what Evolution's contact library reads from a vCard file, one line per field:
 * "CONTACT<TAB>KIND<TAB>TYPE WORDS<TAB>VALUE", CONTACT counting the cards from 0. Phones, e-mails, addresses
 * and URLs carry the TYPE words of their attribute as the library parsed them (lower case, joined by ","), which
 * is what Evolution shows their kinds by; names, dates, notes and the organization come through the library's
 * own fields. bench/peers/roundtrip.py compares the lines with what this program exported. Built by
 * bench/peers/roundtrip.sh against Debian's libebook1.2-dev. */

#include <libebook-contacts/libebook-contacts.h>

#include <stdio.h>
#include <string.h>

static void line(int n, const char *kind, const char *types, const char *value)
{
    if (!value || !*value)
        return;
    printf("%d\t%s\t%s\t", n, kind, types ? types : "");
    for (const char *c = value; *c; ++c) {
        if (*c == '\n')
            fputs("\\n", stdout);
        else if (*c == '\t' || *c == '\r')
            putchar(' ');
        else
            putchar(*c);
    }
    putchar('\n');
}

/* The TYPE words of an attribute, lower case, joined by ",". */
static gchar *type_words(EVCardAttribute *attr)
{
    GString *out = g_string_new(NULL);
    for (GList *p = e_vcard_attribute_get_params(attr); p; p = p->next) {
        EVCardAttributeParam *param = p->data;
        if (g_ascii_strcasecmp(e_vcard_attribute_param_get_name(param), "TYPE") != 0)
            continue;
        for (GList *v = e_vcard_attribute_param_get_values(param); v; v = v->next) {
            gchar *lower = g_ascii_strdown(v->data, -1);
            if (out->len)
                g_string_append_c(out, ',');
            g_string_append(out, lower);
            g_free(lower);
        }
    }
    return g_string_free(out, FALSE);
}

static void dump_date(int n, const char *kind, EContact *contact, EContactField field)
{
    EContactDate *date = e_contact_get(contact, field);
    if (!date)
        return;
    gchar *text = date->year ? g_strdup_printf("%04u-%02u-%02u", date->year, date->month, date->day)
                             : g_strdup_printf("--%02u-%02u", date->month, date->day);
    line(n, kind, NULL, text);
    g_free(text);
    e_contact_date_free(date);
}

static void dump(int n, EContact *contact)
{
    line(n, "fn", NULL, e_contact_get_const(contact, E_CONTACT_FULL_NAME));
    EContactName *name = e_contact_get(contact, E_CONTACT_NAME);
    if (name) {
        line(n, "given", NULL, name->given);
        line(n, "family", NULL, name->family);
        e_contact_name_free(name);
    }
    for (GList *a = e_vcard_get_attributes(E_VCARD(contact)); a; a = a->next) {
        EVCardAttribute *attr = a->data;
        const char *attr_name = e_vcard_attribute_get_name(attr);
        const char *kind = NULL;
        if (g_ascii_strcasecmp(attr_name, "TEL") == 0)
            kind = "phone";
        else if (g_ascii_strcasecmp(attr_name, "EMAIL") == 0)
            kind = "email";
        else if (g_ascii_strcasecmp(attr_name, "URL") == 0)
            kind = "url";
        else if (g_ascii_strcasecmp(attr_name, "ADR") == 0)
            kind = "address";
        if (kind) {
            gchar *types = type_words(attr);
            GString *value = g_string_new(NULL);
            for (GList *v = e_vcard_attribute_get_values(attr); v; v = v->next) {
                if (v != e_vcard_attribute_get_values(attr))
                    g_string_append_c(value, ';');
                g_string_append(value, v->data ? (const char *) v->data : "");
            }
            line(n, kind, types, value->str);
            g_string_free(value, TRUE);
            g_free(types);
        } else if (g_ascii_strcasecmp(attr_name, "IMPP") == 0) {
            gchar *value = e_vcard_attribute_get_value(attr);
            const char *colon = value ? strchr(value, ':') : NULL;
            if (colon) {
                gchar *scheme = g_strndup(value, colon - value);
                line(n, "im", scheme, colon + 1);
                g_free(scheme);
            }
            g_free(value);
        } else if (g_ascii_strncasecmp(attr_name, "X-", 2) == 0) {
            /* Evolution's own IM attributes: X-AIM, X-JABBER, X-SKYPE, X-GOOGLE-TALK, X-ICQ, X-MSN, X-YAHOO,
             * X-GADUGADU, X-GROUPWISE, X-TWITTER. */
            static const char *const services[] = {"X-AIM", "X-JABBER", "X-SKYPE", "X-GOOGLE-TALK", "X-ICQ",
                                                   "X-MSN", "X-YAHOO", "X-GADUGADU", "X-GROUPWISE", NULL};
            for (int i = 0; services[i]; ++i) {
                if (g_ascii_strcasecmp(attr_name, services[i]) == 0) {
                    gchar *value = e_vcard_attribute_get_value(attr);
                    gchar *service = g_ascii_strdown(attr_name + 2, -1);
                    line(n, "im-x", service, value);
                    g_free(service);
                    g_free(value);
                }
            }
        }
    }
    dump_date(n, "birthday", contact, E_CONTACT_BIRTH_DATE);
    dump_date(n, "anniversary", contact, E_CONTACT_ANNIVERSARY);
    line(n, "note", NULL, e_contact_get_const(contact, E_CONTACT_NOTE));
    line(n, "org", NULL, e_contact_get_const(contact, E_CONTACT_ORG));
    line(n, "department", NULL, e_contact_get_const(contact, E_CONTACT_ORG_UNIT));
    line(n, "title", NULL, e_contact_get_const(contact, E_CONTACT_TITLE));
    line(n, "nickname", NULL, e_contact_get_const(contact, E_CONTACT_NICKNAME));
    GList *categories = e_contact_get(contact, E_CONTACT_CATEGORY_LIST);
    for (GList *c = categories; c; c = c->next)
        line(n, "group", NULL, c->data);
    g_list_free_full(categories, g_free);
}

int main(int argc, char *argv[])
{
    if (argc != 2) {
        fprintf(stderr, "usage: ebook-fields FILE.vcf\n");
        return 2;
    }
    gchar *text = NULL;
    gsize size = 0;
    GError *error = NULL;
    if (!g_file_get_contents(argv[1], &text, &size, &error)) {
        fprintf(stderr, "%s\n", error->message);
        return 1;
    }
    /* One card at a time, cut at each END:VCARD line, as Evolution's own import does. */
    const gchar *end = text + size;
    const gchar *card = text;
    int n = 0;
    while (card < end) {
        const gchar *stop = g_strstr_len(card, end - card, "END:VCARD");
        if (!stop)
            break;
        stop += strlen("END:VCARD");
        gchar *one = g_strndup(card, stop - card);
        EContact *contact = e_contact_new_from_vcard(one);
        g_free(one);
        dump(n++, contact);
        g_object_unref(contact);
        card = stop;
        while (card < end && (*card == '\r' || *card == '\n'))
            ++card;
    }
    g_free(text);
    return 0;
}
