#pragma once

#include "publish/publisher.h"
#include "support/tempdir.h"

#include <filesystem>
#include <fstream>
#include <string>

// The sample catalog's sources, copied so that a test can add to them, published into `tree` as an author
// would: each list's address is `addressTemplate` with {category} in it.
class SamplePublisher
{
public:
    SamplePublisher(std::filesystem::path tree, std::string addressTemplate)
        : m_tree(std::move(tree))
        , m_template(std::move(addressTemplate))
    {
        std::filesystem::copy(KAVO_SOURCE_DIR "/src/resources/catalog", m_sources.path());
    }

    // Publishes the sources as they stand now; the summary, or the problems after "problems:".
    std::string publish() const
    {
        const auto published = publish::publishCatalog(m_sources.path(), m_tree, m_template);
        if (published.has_value())
            return publish::summary(published.value());
        std::string problems = "problems:";
        for (const publish::Problem &problem : published.error())
            problems += "\n" + publish::describe(problem);
        return problems;
    }

    // Appends one source line (UTF-8, tab-separated) to a category's source.
    void addRecord(const std::string &category, const std::string &line) const
    {
        std::ofstream(m_sources.path() / (category + ".tsv"), std::ios::app) << line << "\n";
    }

private:
    TempDir m_sources;
    std::filesystem::path m_tree;
    std::string m_template;
};
