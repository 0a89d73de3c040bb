#include "tests/support/xml_check.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdarg>
#include <cstdio>

namespace testing_support {

namespace {

void Collect(void* context, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  static_cast<std::string*>(context)->append(buffer);
}

void CollectStructured(void* context, xmlErrorPtr error) {
  static_cast<std::string*>(context)->append("line " + std::to_string(error->line) + ": " +
                                             (error->message ? error->message : ""));
}

// The schema is parsed once; libxml2 allows one parsed schema to validate from many contexts.
xmlSchemaPtr PmmlSchema() {
  static xmlSchemaPtr schema = [] {
    const std::string path = std::string(TREEXPORT_TEST_DATA) + "/pmml-4-3.xsd";
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(path.c_str());
    xmlSchemaPtr parsed = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    return parsed;
  }();
  return schema;
}

std::string NodeText(xmlNodePtr node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

}  // namespace

struct XmlDoc::Impl {
  xmlDocPtr doc = nullptr;

  // The expression's value; null (and a failed test) for a bad expression or no document.
  xmlXPathObjectPtr Eval(const std::string& xpath) const {
    if (doc == nullptr) return nullptr;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathRegisterNs(context, BAD_CAST "p", BAD_CAST "http://www.dmg.org/PMML-4_3");
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST xpath.c_str(), context);
    xmlXPathFreeContext(context);
    if (result == nullptr) ADD_FAILURE() << "bad XPath: " << xpath;
    return result;
  }

  // The nodes the expression selects, in document order; none for a value that is no node set.
  std::vector<xmlNodePtr> Nodes(const std::string& xpath) const {
    std::vector<xmlNodePtr> nodes;
    xmlXPathObjectPtr result = Eval(xpath);
    if (result != nullptr && result->type == XPATH_NODESET && result->nodesetval != nullptr) {
      nodes.assign(result->nodesetval->nodeTab,
                   result->nodesetval->nodeTab + result->nodesetval->nodeNr);
    }
    xmlXPathFreeObject(result);
    return nodes;
  }
};

XmlDoc::XmlDoc(const std::string& text) : impl_(std::make_unique<Impl>()) {
  std::string errors;
  xmlSetGenericErrorFunc(&errors, Collect);
  impl_->doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "document.xml", nullptr,
                             XML_PARSE_NONET | XML_PARSE_HUGE);
  xmlSetGenericErrorFunc(nullptr, nullptr);
  if (impl_->doc == nullptr) ADD_FAILURE() << "document is not well-formed XML: " << errors;
}

XmlDoc::~XmlDoc() {
  if (impl_->doc != nullptr) xmlFreeDoc(impl_->doc);
}

bool XmlDoc::ok() const { return impl_->doc != nullptr; }

double XmlDoc::Number(const std::string& xpath) const {
  xmlXPathObjectPtr result = impl_->Eval(xpath);
  if (result == nullptr) return -1;
  const double value = result->type != XPATH_NODESET ? xmlXPathCastToNumber(result)
                       : result->nodesetval          ? result->nodesetval->nodeNr
                                                     : 0;
  xmlXPathFreeObject(result);
  return value;
}

std::string XmlDoc::Text(const std::string& xpath) const {
  xmlXPathObjectPtr result = impl_->Eval(xpath);
  if (result == nullptr) return ok() ? "<bad xpath>" : "<no document>";
  std::string text = "<nothing selected>";
  if (result->type != XPATH_NODESET) {
    xmlChar* s = xmlXPathCastToString(result);
    text = reinterpret_cast<const char*>(s);
    xmlFree(s);
  } else if (result->nodesetval != nullptr && result->nodesetval->nodeNr > 0) {
    text = NodeText(result->nodesetval->nodeTab[0]);
  }
  xmlXPathFreeObject(result);
  return text;
}

std::vector<std::string> XmlDoc::Texts(const std::string& xpath) const {
  std::vector<std::string> texts;
  for (xmlNodePtr node : impl_->Nodes(xpath)) texts.push_back(NodeText(node));
  return texts;
}

std::vector<std::string> XmlDoc::AttributeNames(const std::string& xpath) const {
  const std::vector<xmlNodePtr> nodes = impl_->Nodes(xpath);
  if (nodes.empty()) return {"<nothing selected>"};
  std::vector<std::string> names;
  for (xmlAttrPtr a = nodes[0]->properties; a != nullptr; a = a->next) {
    names.emplace_back(reinterpret_cast<const char*>(a->name));
  }
  return names;
}

std::vector<std::string> XmlDoc::ChildNames(const std::string& xpath) const {
  const std::vector<xmlNodePtr> nodes = impl_->Nodes(xpath);
  if (nodes.empty()) return {"<nothing selected>"};
  std::vector<std::string> names;
  for (xmlNodePtr c = nodes[0]->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) names.emplace_back(reinterpret_cast<const char*>(c->name));
  }
  return names;
}

std::string XmlDoc::PmmlSchemaErrors() const {
  if (!ok()) return "not well-formed";
  xmlSchemaPtr schema = PmmlSchema();
  if (schema == nullptr) return "the PMML schema in the test data could not be parsed";
  std::string errors;
  xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema);
  xmlSchemaSetValidStructuredErrors(context, CollectStructured, &errors);
  const int rc = xmlSchemaValidateDoc(context, impl_->doc);
  xmlSchemaFreeValidCtxt(context);
  if (rc != 0 && errors.empty()) errors = "invalid (code " + std::to_string(rc) + ")";
  return errors;
}

std::string XmlDoc::DtdErrors(const std::string& dtdPath) const {
  if (!ok()) return "not well-formed";
  xmlDtdPtr dtd = xmlParseDTD(nullptr, BAD_CAST dtdPath.c_str());
  if (dtd == nullptr) return "the DTD " + dtdPath + " could not be parsed";
  std::string errors;
  xmlValidCtxtPtr context = xmlNewValidCtxt();
  context->userData = &errors;
  context->error = Collect;
  context->warning = Collect;
  const int valid = xmlValidateDtd(context, impl_->doc, dtd);
  xmlFreeValidCtxt(context);
  xmlFreeDtd(dtd);
  if (!valid && errors.empty()) errors = "invalid";
  return errors;
}

}  // namespace testing_support
