// SPDX-License-Identifier: Apache-2.0
/* Reads a mail message as GMime 3 decodes it: a second reader, independent
 * of Python's, for the tests of what a recipient sees.
 *
 * usage: read_mail_gmime MESSAGE
 *
 * Prints in UTF-8: "subject TEXT", then one line a mailbox "from NAME <ADDRESS>",
 * "to ..." and "cc ...", then per leaf part "part TYPE FILENAME" (FILENAME "-"
 * when it has none) and, for a text part, "text TEXT"; line ends in TEXT are
 * written as the two characters \n. */
#include <gmime/gmime.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

static void print_escaped(const char *text) {
  for (const char *p = text ? text : ""; *p; ++p) {
    if (*p == '\r') continue;
    if (*p == '\n') fputs("\\n", stdout);
    else putchar(*p);
  }
}

static void print_addresses(const char *kind, InternetAddressList *list) {
  int n = list ? internet_address_list_length(list) : 0;
  for (int i = 0; i < n; ++i) {
    InternetAddress *address = internet_address_list_get_address(list, i);
    const char *name = internet_address_get_name(address);
    if (INTERNET_ADDRESS_IS_MAILBOX(address))
      printf("%s %s <%s>\n", kind, name ? name : "", internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    else
      printf("%s group %s\n", kind, name ? name : "");
  }
}

static void print_part(GMimeObject *parent, GMimeObject *object, gpointer data) {
  (void) parent; (void) data;
  if (!GMIME_IS_PART(object)) return;
  GMimeContentType *type = g_mime_object_get_content_type(object);
  const char *name = g_mime_part_get_filename(GMIME_PART(object));
  char *mime = g_mime_content_type_get_mime_type(type);
  printf("part %s %s\n", mime, name ? name : "-");
  g_free(mime);
  if (GMIME_IS_TEXT_PART(object)) {
    char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
    fputs("text ", stdout);
    print_escaped(text);
    putchar('\n');
    g_free(text);
  }
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s MESSAGE\n", argv[0]);
    return 2;
  }
  g_mime_init();
  GError *error = NULL;
  GMimeStream *stream = g_mime_stream_fs_open(argv[1], O_RDONLY, 0, &error);
  if (stream == NULL) {
    fprintf(stderr, "%s: %s\n", argv[1], error ? error->message : "cannot open");
    return 1;
  }
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage *message = g_mime_parser_construct_message(parser, NULL);
  if (message == NULL) {
    fprintf(stderr, "%s: not a message\n", argv[1]);
    return 1;
  }
  fputs("subject ", stdout);
  print_escaped(g_mime_message_get_subject(message));
  putchar('\n');
  print_addresses("from", g_mime_message_get_from(message));
  print_addresses("to", g_mime_message_get_to(message));
  print_addresses("cc", g_mime_message_get_cc(message));
  g_mime_message_foreach(message, print_part, NULL);
  g_object_unref(message);
  g_object_unref(parser);
  g_object_unref(stream);
  g_mime_shutdown();
  return 0;
}
