// Uses the installed C++ interface: parse, ranges, typed attributes, errors, output.
#include <cstdio>
#include <string>

#include <vornaplex_xml.hpp>

namespace xml = vornaplex::xml;

int main() {
    bool ok = true;
    xml::Document doc = xml::Document::parse("<config><server port=\"8080\"/><server/></config>");
    int servers = 0;
    for (xml::Node child : doc.root().children()) servers += child.name() == "server";
    ok &= servers == 2;
    xml::Node server = doc.at("config.server");
    ok &= server.get_attr<uint16_t>("port") == 8080;
    server.set_attr("port", uint16_t{9090});
    server.set_attr("name", "main");
    ok &= doc.to_string() ==
          "<config>\n<server port=\"9090\" name=\"main\"/>\n<server/>\n</config>\n";
    try {
        xml::Document::parse("<config>");
        ok = false;
    } catch (const xml::Error &error) {
        ok &= error.code() == KEL_XML_ERR_SYNTAX;
    }
    ok &= xml::version() == "KEL XML 2.1.9";
    std::puts(ok ? "consumer_cpp: ok" : "consumer_cpp: FAILED");
    return ok ? 0 : 1;
}
