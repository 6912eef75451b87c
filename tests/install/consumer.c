/* Uses the installed C interface: parse, path lookup, typed read and write, output. */
#include <stdio.h>
#include <string.h>

#include <vornaplex_xml.h>

int main(void) {
    KEL_XML_NODE *doc = NULL, *server = NULL;
    uint16_t port = 0;
    char *text = NULL;
    int ok = 1;

    ok &= KEL_XML_ParseEx("<config><server port=\"8080\">main</server></config>", &doc) == 0;
    ok &= KEL_XML_GetNodeByUrl(doc, "config.server", &server) == 0;
    ok &= KEL_XML_GetAttrValueEx(server, NULL, "port", KEL_XML_VALUE_UINT16, &port) == 0;
    ok &= port == 8080;
    port = 9090;
    ok &= KEL_XML_SetAttrValueEx(server, NULL, "port", KEL_XML_VALUE_UINT16, &port) == 0;
    ok &= KEL_XML_Transform(doc, &text) == 0;
    ok &= text != NULL &&
          strcmp(text, "<config>\n<server port=\"9090\">main</server>\n</config>\n") == 0;
    KEL_XML_FreeMem(text);
    KEL_XML_FreeNode(doc);
    puts(ok ? "consumer_c: ok" : "consumer_c: FAILED");
    return ok ? 0 : 1;
}
