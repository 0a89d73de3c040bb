// Fixed texts of the PMML document (not installed).
#pragma once

namespace TreeOut {
namespace pmml_text {

/// The namespace of PMML 4.3 documents, as the standard publishes it.
inline constexpr const char kNamespace[] = "http://www.dmg.org/PMML-4_3";
inline constexpr const char kSchemaInstance[] = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char kSchemaLocation[] = "http://www.dmg.org/PMML-4_3 pmml-4-3.xsd";
/// The extender of every Extension that names who wrote it.
inline constexpr const char kVendorDomain[] = "treexport.org";
/// The Header's copyright until the host sets its own.
inline constexpr const char kCopyright[] =
    "Written by treexport, an open-source decision tree exporter. Copyright (c) 2026 the "
    "treexport authors.";

}  // namespace pmml_text
}  // namespace TreeOut
