/*
 * login_check: verifies a login and checks a permission item through libvardex.
 *
 *   login_check [--key KEY] CONNSTR USER PASSWORD ITEM
 *
 * Prints the outcome of each call and exits 0 when the user may log in and holds the item.
 *
 * KEY is the cipher key the store's passwords were enciphered with. Without --key the library's
 * default "kmpq" is used. The host program's "密码加密因子" box starts with "KMPQ", and keys are
 * case-sensitive: for users created in the host with that box unchanged, pass --key KMPQ, or the
 * login answers 3 (wrong password).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vardex.h"

static const char *login_text(int32_t rc) {
    switch (rc) {
    case VARDEX_OK: return "verified";
    case VARDEX_LOGIN_DISABLED: return "disabled";
    case VARDEX_LOGIN_EXPIRED: return "outside the validity period";
    case VARDEX_LOGIN_WRONG_PASSWORD: return "wrong password";
    case VARDEX_LOGIN_NO_USER: return "no such user";
    default: return "error";
    }
}

static const char *right_text(int32_t rc) {
    switch (rc) {
    case VARDEX_OK: return "granted";
    case VARDEX_RIGHT_NO_USER: return "no such user";
    case VARDEX_RIGHT_NO_GROUP: return "user group missing";
    case VARDEX_RIGHT_NOT_HELD: return "not granted";
    default: return "error";
    }
}

int main(int argc, char **argv) {
    int32_t login, right;
    const char *key = "";
    if (argc >= 3 && strcmp(argv[1], "--key") == 0) {
        key = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 5) {
        fprintf(stderr, "usage: %s [--key KEY] CONNSTR USER PASSWORD ITEM\n", argv[0]);
        return 2;
    }
    if (ConnectDatabase(argv[1], "", "", "", key) != VARDEX_OK) {
        fprintf(stderr, "cannot open the store: %s\n", VardexLastError());
        return 2;
    }
    login = CheckUserLogin(argv[2], argv[3], "", NULL, VARDEX_SHOW_NOTHING);
    printf("login %s: %d (%s)\n", argv[2], (int)login, login_text(login));
    if (login == VARDEX_ERROR)
        fprintf(stderr, "%s\n", VardexLastError());
    right = CheckUserRight(argv[2], (int32_t)atoi(argv[4]), NULL, VARDEX_SHOW_NOTHING);
    printf("right %s: %d (%s)\n", argv[4], (int)right, right_text(right));
    if (right == VARDEX_ERROR)
        fprintf(stderr, "%s\n", VardexLastError());
    if (DisconnectDatabase() != VARDEX_OK)
        fprintf(stderr, "%s\n", VardexLastError());
    return login == VARDEX_OK && right == VARDEX_OK ? 0 : 1;
}
