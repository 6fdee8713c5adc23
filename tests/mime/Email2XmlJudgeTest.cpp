// Python judges the XML form: xml.dom.minidom and xml.etree read every XML
// we write without error and find the elements of every header field, and
// the email package reads the MIME text written before the XML round trip
// and after it as the same message: shape, header values, parameters and
// the decoded bytes of every part, without defects.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mime/Email2.h"
#include "mime/Email2XmlSupport.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(Email2XmlJudge, PythonReadsTheXmlAndBothMimeTexts)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

using namespace pyjudge;
using namespace xmltest;

const char* const kJudge = R"PY(
import os, re, sys
import xml.dom.minidom
import xml.etree.ElementTree as ET
from email import policy
from email.parser import BytesParser
from judgelib import shape

d = sys.argv[1]
bad = []
count = 0

def leaves(msg):
    return [p for p in msg.walk() if not p.is_multipart()]


NAME = re.compile(r'[A-Za-z_][A-Za-z0-9._-]*$')

def headers(p):
    out = []
    for k, v in p.items():
        k = k.lower()
        if not NAME.match(k):
            continue  # the form leaves out fields whose names are no XML names
        if k in ('content-type', 'content-disposition', 'content-transfer-encoding'):
            continue
        # White space runs as one: where the writer folds depends on the
        # charset it writes the header in, which the import may name anew.
        out.append((k, ' '.join(str(v).split())))
    return out

def params(p, name):
    return sorted((k.lower(), v) for k, v in (p.get_params(header=name) or []))

def check_xml(stem, raw):
    try:
        xml.dom.minidom.parseString(raw)
        root = ET.fromstring(raw)
    except Exception as e:
        bad.append('%s: XML does not parse: %s' % (stem, e))
        return None
    if root.tag != 'mime_message' or root.find('header') is None or root.find('body') is None:
        bad.append('%s: no mime_message with header and body' % stem)
    for sub in root.iter('subpart'):
        if sub.find('mime_message') is None:
            bad.append('%s: subpart without mime_message' % stem)
    return root

for name in sorted(os.listdir(d)):
    if not name.endswith('.xml'):
        continue
    count += 1
    stem = name[:-4]
    root = check_xml(stem, open(os.path.join(d, name), 'rb').read())
    before = BytesParser(policy=policy.default).parsebytes(open(os.path.join(d, stem + '.before.eml'), 'rb').read())
    after = BytesParser(policy=policy.default).parsebytes(open(os.path.join(d, stem + '.after.eml'), 'rb').read())
    if root is not None:
        tags = [c.tag for c in root.find('header')]
        for k, _ in before.items():
            if NAME.match(k) and k.lower() not in tags:
                bad.append('%s: no element for %s' % (stem, k))
    if shape(before) != shape(after):
        bad.append('%s: shape %s became %s' % (stem, shape(before), shape(after)))
        continue
    for a, b in zip(before.walk(), after.walk()):
        for p in (a, b):
            if p.defects:
                bad.append('%s: %s defects %r' % (stem, p.get_content_type(), p.defects))
        if headers(a) != headers(b):
            bad.append('%s: headers %r became %r' % (stem, headers(a), headers(b)))
        for h in ('content-type', 'content-disposition'):
            if params(a, h) != params(b, h):
                bad.append('%s: %s parameters %r became %r' % (stem, h, params(a, h), params(b, h)))
        if not a.is_multipart() and a.get_payload(decode=True) != b.get_payload(decode=True):
            bad.append('%s: %s body changed' % (stem, a.get_content_type()))
    if 'bcc' in [k.lower() for k in after.keys()]:
        bad.append('%s: a Bcc line was written' % stem)
if count < 6:
    bad.append('only %d emails' % count)
for b in bad[:20]:
    print(b)
sys.exit(1 if bad else 0)
)PY";

class Email2XmlJudge : public JudgeTest {};

TEST_F(Email2XmlJudge, PythonReadsTheXmlAndBothMimeTexts)
{
    prepare("import xml.dom.minidom, xml.etree.ElementTree, email.policy", "hanamail-emailxml-");
    if (IsSkipped()) return;
    for (const auto& s : sampleEmails()) {
        std::unique_ptr<Email2> e(Email2::NewEmail());
        s.second(*e);
        const std::string xml = xmlOf(*e);
        auto back = import(xml);
        ASSERT_TRUE(back) << s.first;
        writeFile(m_dir / (s.first + ".xml"), xml);
        writeFile(m_dir / (s.first + ".before.eml"), mimeOf(*e));
        writeFile(m_dir / (s.first + ".after.eml"), mimeOf(*back));
    }
    runJudges({{"judge.py.script", kJudge}});
}

#endif

}  // namespace
