#include "setup/AgreementText.h"

namespace qhs {

namespace {

// Each heading and paragraph is followed by an empty row; a paragraph's first line is
// indented by four blanks.
// clang-format off
constexpr std::array<std::string_view, AgreementRowCount> Rows = {
    "",
    "    ",
    "",
    "    This agreement is made between you, the person who installs or uses this software (the \"END",
    "USER\"), the \"AUTHOR\" of the software and its \"DISTRIBUTOR\", as defined below.",
    "",
    "I. DEFINITIONS OF TERMS:",
    "",
    "    END USER: the person or organisation that installs, runs, copies or otherwise makes use of",
    "Quillharbour Sniffer on any computer, together with every person who operates that computer with",
    "the END USER's permission. Where this agreement speaks of \"you\", it means the END USER, and",
    "\"your computer\" means any computer on which the END USER runs the software.",
    "",
    "    AUTHOR: Quillharbour, the maker of Quillharbour Sniffer, including every person who wrote,",
    "designed or tested any part of the software, its documentation or its installation system on",
    "behalf of Quillharbour. The AUTHOR keeps every right in the software that this agreement does",
    "not expressly grant to the END USER.",
    "",
    "    DISTRIBUTOR: Quillharbour and any person or organisation that passes Quillharbour Sniffer on",
    "to an END USER, whether for a fee or free of charge, by download, on a disk or by any other",
    "means. A DISTRIBUTOR other than Quillharbour acts on its own account and cannot change or extend",
    "this agreement.",
    "",
    "2. END USER RIGHTS AND DUTIES:",
    "",
    "    The END USER holds the AUTHOR and the DISTRIBUTOR unaccountable for any damage to hardware,",
    "software, data or networks and for any loss of data, time, income or business that results from",
    "installing, running or being unable to run this software, however that damage or loss may arise",
    "and even if the AUTHOR or the DISTRIBUTOR has been told that it might occur. The END USER is",
    "responsible for keeping backup copies of all data on the computers where the software runs.",
    "",
    "    Capturing network traffic can reveal private information belonging to other people. The END",
    "USER alone is responsible for knowing and obeying every law on network sniffing, interception of",
    "communications, privacy, data protection and computer hacking that applies where the END USER",
    "resides and where the monitored network is located. The END USER shall only capture traffic on",
    "networks that the END USER owns or has written permission to monitor, and shall not use this",
    "software to gain unauthorised access to any computer system or to any information.",
    "",
    "    UPPON ACCEPTING THIS AGREEMENT: THE END USER CONFIRMS THAT THE END USER HAS READ THIS ENTIRE",
    "AGREEMENT, UNDERSTANDS IT, IS OF LEGAL AGE TO ENTER INTO IT, AND AGREES TO BE BOUND BY ALL OF",
    "ITS TERMS. AN END USER WHO DOES NOT AGREE TO EVERY TERM MUST NOT INSTALL OR RUN THIS SOFTWARE",
    "AND MUST REMOVE EVERY COPY OF IT FROM THE END USER'S COMPUTERS. THIS AGREEMENT ENDS",
    "AUTOMATICALLY IF THE END USER BREAKS ANY OF ITS TERMS.",
    "",
    "3. WARRANTEE DISCLAIMER:",
    "",
    "    This software is provided \"As Is\", without warranty of any kind, either expressed or",
    "implied, including but not limited to the implied warranties of merchantability and fitness for",
    "a particular purpose. The AUTHOR and the DISTRIBUTOR do not promise that the software is free of",
    "defects or errors, that it will run without interruption, or that it will capture, show or save",
    "every packet or file correctly.",
    "",
    "4. NOTICE OF LEGAL PROTECTION AGAINST COPYING:",
    "",
    "    THIS SOFTWARE IS PROTECTED BY COPYRIGHT LAW AND INTERNATIONAL TREATIES. THE END USER SHALL",
    "NOT COPY, ALTER, TRANSLATE, DECOMPILE OR DISASSEMBLE THIS SOFTWARE OR ANY PART OF IT WITHOUT THE",
    "WRITTEN PERMISSION OF THE AUTHOR. EVERY COPY THAT IS MADE MUST KEEP ALL COPYRIGHT NOTICES OF THE",
    "ORIGINAL UNCHANGED.",
    "",
    "    THE END USER MAY GIVE COPIES OF THIS SOFTWARE TO OTHERS ONLY AS THE COMPLETE, UNALTERED",
    "SOFTWARE AS RECEIVED FROM THE DISTRIBUTOR, INCLUDING THIS AGREEMENT, AND ONLY FREE OF CHARGE.",
    "EVERY OTHER FORM OF REDISTRIBUTION IS FORBIDDEN. NO PERSON MAY SELL, RENT OR LEASE THIS SOFTWARE",
    "OR OFFER IT AS PART OF ANOTHER PRODUCT.",
    "",
    "5. AGREEMENT INFORMATION:",
    "",
    "    Jurisdiction and Domicile: This agreement is governed by the laws of the place where the",
    "AUTHOR has its domicile, and any dispute arising from it shall be settled by the courts of that",
    "place, unless the law where the END USER resides requires otherwise. The END USER agrees to",
    "appear before those courts for the purpose of any such dispute.",
    "",
    "    Validity of this Agreement: Should any part of this agreement be found invalid or",
    "unenforceable, that part shall be limited to the smallest extent necessary, and every other part",
    "of this agreement shall remain in full force and effect. A failure to enforce any part of this",
    "agreement does not waive the right to enforce it later.",
    "",
    "    Entire Agreement: This is the entire agreement between the END USER, the AUTHOR and the",
    "DISTRIBUTOR about this software, and it replaces every earlier statement, offer or agreement",
    "about it.",
    "",
    "     ----- QUILLHARBOUR SNIFFER END USER AGREEMENT ENDS HERE -----",
    "",
};
// clang-format on

}  // namespace

const std::array<std::string_view, AgreementRowCount>& agreementRows() {
    return Rows;
}

}  // namespace qhs
