/* The public header compiles as strict C99 and the shared library links from C. */
#include <stdio.h>
#include <string.h>

#include "vornaplex_xml.h"

int main(void) {
    char version[14];
    KEL_XML_NODE *doc = NULL;
    char *text = NULL;
    int ok = 1;
    KEL_XML_FILE_FUNCS funcs = {fopen, fseek, fclose, fread, ftell};
    ok &= KEL_XML_RegFileFunc(funcs.open, funcs.seek, funcs.close, funcs.read, funcs.tell) == 0;
    ok &= KEL_XML_GetVersion(version, sizeof version) == 0 && strcmp(version, "KEL XML 2.1.9") == 0;
    ok &= KEL_XML_ParseEx("<a x=\"1\"><b>t</b></a>", &doc) == 0;
    ok &= KEL_XML_Transform(doc, &text) == 0 && strcmp(text, "<a x=\"1\">\n<b>t</b>\n</a>\n") == 0;
    KEL_XML_FreeMem(text);
    KEL_XML_FreeNode(doc);
    puts(ok ? "header_c99: ok" : "header_c99: FAILED");
    return ok ? 0 : 1;
}
