/* Builds the empty template contact database from a schema file: page size 1024, UTF-8, no rows. */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>

static char *readAll(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *buf = malloc((size_t)n + 1);
    if (buf && fread(buf, 1, (size_t)n, f) != (size_t)n) {
        free(buf);
        buf = NULL;
    }
    if (buf)
        buf[n] = '\0';
    fclose(f);
    return buf;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: make-template-db SCHEMA.sql OUT.db\n");
        return 2;
    }
    char *schema = readAll(argv[1]);
    if (!schema) {
        fprintf(stderr, "make-template-db: cannot read %s\n", argv[1]);
        return 1;
    }
    remove(argv[2]);
    sqlite3 *db = NULL;
    if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, NULL) != SQLITE_OK) {
        fprintf(stderr, "make-template-db: cannot create %s\n", argv[2]);
        return 1;
    }
    char *err = NULL;
    /* Page size and encoding only take effect before the first table exists. The sqlite_sequence rows that the
       AUTOINCREMENT tables would get appear only with the first insert, so the template has no rows. */
    if (sqlite3_exec(db, "PRAGMA page_size=1024; PRAGMA encoding='UTF-8';", NULL, NULL, &err) != SQLITE_OK
        || sqlite3_exec(db, schema, NULL, NULL, &err) != SQLITE_OK
        || sqlite3_exec(db, "VACUUM;", NULL, NULL, &err) != SQLITE_OK) {
        fprintf(stderr, "make-template-db: %s\n", err ? err : "error");
        sqlite3_close(db);
        remove(argv[2]);
        return 1;
    }
    free(schema);
    return sqlite3_close(db) == SQLITE_OK ? 0 : 1;
}
