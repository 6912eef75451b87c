/* build_tree.c - builds a small document by hand through the C interface and
 * prints it by walking the tree: one line per element, indented by depth, with
 * its attributes and value. */
#include <stdio.h>
#include <stdlib.h>

#include "vornaplex_xml.h"

/* Stops the program with a message when a call fails. */
static void check(uint32_t result, const char *what) {
    if (result != 0) {
        fprintf(stderr, "build_tree: %s failed with 0x%08lX\n", what, (unsigned long)result);
        exit(1);
    }
}

/* Creates an element in the document's storage and appends it to `parent`. */
static KEL_XML_NODE *add_element(KEL_XML_NODE *doc, KEL_XML_NODE *parent, const char *name,
                                 const char *value) {
    KEL_XML_NODE *node = NULL;
    check(KEL_XML_CreateNodeEx(doc->pool, KEL_XML_NODE_ELEMENT, NULL, name, value, &node),
          "KEL_XML_CreateNodeEx");
    check(KEL_XML_AppendChildNode(parent, node), "KEL_XML_AppendChildNode");
    return node;
}

static void print_element(KEL_XML_NODE *node, int depth) {
    const char *prefix, *name, *value, *attrPrefix, *attrName, *attrValue;
    KEL_XML_ATTR *attr = NULL; /* cursor: null starts at the first attribute */
    check(KEL_XML_GetNodeValue(node, NULL, &prefix, &name, &value), "KEL_XML_GetNodeValue");
    printf("%*s%s%s%s", 2 * depth, "", prefix ? prefix : "", prefix ? ":" : "", name);
    while (KEL_XML_GetNextSiblingAttrEx(node, &attrPrefix, &attrName, &attrValue, &attr) == 0)
        printf(" @%s%s%s=\"%s\"", attrPrefix ? attrPrefix : "", attrPrefix ? ":" : "", attrName,
               attrValue ? attrValue : "");
    if (value != NULL) printf(" = \"%s\"", value);
    putchar('\n');
}

/* Walks the tree in document order; the depth follows the parent links. */
static void print_tree(KEL_XML_NODE *root) {
    KEL_XML_NODE *node;
    for (node = root; node != NULL; node = KEL_XML_Iterator(node)) {
        int depth = 0;
        KEL_XML_NODE *up;
        for (up = KEL_XML_GetNodeParent(node); up != NULL; up = KEL_XML_GetNodeParent(up)) ++depth;
        print_element(node, depth);
    }
}

int main(void) {
    char version[14];
    KEL_XML_NODE *doc = NULL, *server, *users;
    uint32_t count = 0;

    check(KEL_XML_GetVersion(version, sizeof version), "KEL_XML_GetVersion");
    printf("%s\n", version);

    /* A pooled document: every record and string below comes from its pool. */
    check(KEL_XML_CreateNodeEx(NULL, KEL_XML_NODE_DOCUMENT, NULL, "config", NULL, &doc),
          "KEL_XML_CreateNodeEx");
    check(KEL_XML_AddAttr(doc, NULL, "version", "3"), "KEL_XML_AddAttr");
    server = add_element(doc, doc, "server", NULL);
    check(KEL_XML_AddAttr(server, NULL, "host", "localhost"), "KEL_XML_AddAttr");
    check(KEL_XML_AddAttr(server, "net", "port", "8080"), "KEL_XML_AddAttr");
    add_element(doc, server, "timeout", "30");
    users = add_element(doc, doc, "users", NULL);
    add_element(doc, users, "user", "ada");
    add_element(doc, users, "user", "grace");
    check(KEL_XML_SetAttr(server, "net", "port", "8443"), "KEL_XML_SetAttr");

    print_tree(doc);
    check(KEL_XML_GetNodeChildNum(users, &count), "KEL_XML_GetNodeChildNum");
    printf("users: %lu\n", (unsigned long)count);

    KEL_XML_FreeNode(doc); /* releases the whole pool */
    return 0;
}
