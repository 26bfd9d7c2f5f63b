#pragma once

#include "front/documents/report_document.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// Shows the sites' full names in the program's report, which prints their four-character codes.
//
// Codes are replaced only where the report's layout puts a site name, never by searching the text
// for them: a code may read like a word or a number ("Note", "1614") that the report holds
// elsewhere. The places, each matched on a whole line (after its indentation of blanks and tabs):
//  - the control sites after "Control sites    Constraints": a code, 16 blanks and the three
//    nine-column constraint words or blanks, each followed by a blank;
//  - the decomposition of a network that falls apart: "Sites:" followed by the codes of a group
//    and "Vectors:" by "CODE-CODE" pairs, each item in columns of the same width (the code or
//    pair, then blanks), and nothing but blanks after the last;
//  - the error lines that name a site or a vector: "Error: Site CODE ", "( site CODE)" at the end
//    and "Error: The vector #NNNNN:CODE-CODE ".
// In the control sites a name takes the place of the code and as many of the blanks after it as
// it needs, keeping one, so that the constraint columns stay put for names of up to 20
// characters. Only codes whose full name differs from them are replaced, so a report of a network
// named in four characters is left exactly as the program sent it. A code is replaced only where
// it lies within one run of text, which is how the program prints it.
void showFullSiteNames(ReportDocument& document, const SiteNameTable& names);

// Shows the held parameters of the closing report (the datum bias rows and the scale, printed as
// a value and "fixed": "  X    -0.000    fixed") as "held at" and the value, 0 when it prints as
// zero of either sign, so that a client reads no "-0.000". Only a line that ends in a number
// with three decimals, four blanks and "fixed", within one run, is changed; the program's report
// itself is left as it was sent, for the documents to show the rewritten copy.
void showHeldParameters(ReportDocument& document);

}  // namespace torvek::front
