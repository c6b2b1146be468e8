// The record of jobs out: its entries' text, and cleaning entries no document will ask for.
#include "OrdoDocumentKit.h"

namespace {

// Job, server, document, item, source, time sent; answered, not released, saved, OPI not known.
OD_JobEntry SampleEntry() {
    return OD_JobEntry("06101010.12/06101011.12", "/srv/qor/qorserver", "/docs/a b.odoc", 42,
                       "/images/photo.tif", 1700000000, OD_JobEntry::State::answered, false, true,
                       -1, "job\n2\n5\nfinish\nDone\n/out/photo.tif\n1700000005\n1700000005\n");
}

TEST(JobEntry, ReadsBackWhatItWroteAndRefusesAnythingElse) {
    const std::string text = FormatJobEntry(SampleEntry());
    OD_JobEntry back;
    std::string why;
    ASSERT_TRUE(ParseJobEntry(text, back, why)) << why;
    EXPECT_EQ(back, SampleEntry());

    // Each damaged in one place: a stopped write, a foreign file, a hand edit.
    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::pair<const char*, std::string> damaged[] = {
        {"cut in the reply", text.substr(0, text.size() - 3)},
        {"cut before the reply", text.substr(0, text.find("reply "))},
        {"another header", with("OrdoDesk job 1", "OrdoDesk job 2")},
        {"a key twice", with("item 42\n", "item 42\nitem 43\n")},
        {"an unknown key", with("item 42\n", "item 42\ncolour red\n")},
        {"a key missing", with("sent 1700000000\n", "")},
        {"no job name", with("job 06101010.12/06101011.12", "job ")},
        {"a word for a number", with("item 42", "item forty-two")},
        {"a flag of two", with("saved 1", "saved 2")},
        {"an unknown state", with("state answered", "state lost")},
        {"a reply longer than said", text + "x"},
    };
    for (const auto& [what, t] : damaged) {
        EXPECT_FALSE(ParseJobEntry(t, back, why)) << what;
    }
}

TEST(JobEntry, OldEntriesGoWithTheirRepliesExceptThoseOfOpenDocuments) {
    ordokit::ScopedSystemFolder system;
    TempDir root;
    const std::string server = MakeServerTree(root.Path());
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    const int64_t now = 1800000000, day = 24 * 3600;
    // Job, age, document, whether it is kept.
    const std::tuple<const char*, int64_t, const char*, bool> cases[] = {
        {"c1/old", 31 * day, "/docs/closed.odoc", false},
        {"c1/open", 31 * day, "/docs/open.odoc", true},
        {"c1/recent", 29 * day, "/docs/closed.odoc", true},
    };
    for (const auto& [job, age, document, kept] : cases) {
        OD_JobEntry e = SampleEntry();
        e.job = job;
        e.server = server;
        e.document = document;
        e.sent = now - age;
        ASSERT_EQ(journal.Write(e), 0);
        WriteFile(root / ("Data/clients/" + std::string(job)), "reply");
    }
    WriteFile(journal.Folder() + "/.c1_stopped.job.7.part", "half an entry");

    EXPECT_EQ(journal.RemoveLeftovers(platform::CurrentTime() + 10), 1);
    EXPECT_EQ(CleanOldJobs(journal, now, kODJobKeepDays, {"/docs/open.odoc"}), 1);
    for (const auto& [job, age, document, kept] : cases) {
        OD_JobEntry found;
        EXPECT_EQ(journal.Find(job, found), kept) << job;
        EXPECT_EQ(fs::exists(root / ("Data/clients/" + std::string(job))), kept) << job;
    }
    EXPECT_EQ(journal.List().size(), 2u);
}

} // namespace
