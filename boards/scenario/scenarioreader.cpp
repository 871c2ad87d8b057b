#include "scenarioreader.h"

ScenarioReader::ScenarioReader(std::unique_ptr<std::istream> input, std::string file,
                               ScenarioParser::Report report)
    : m_input(std::move(input)), m_parser(std::move(file), std::move(report))
{
}

ScenarioReader::Next ScenarioReader::next(Scenario::Command& command)
{
    while (std::getline(*m_input, m_text)) {
        m_read += m_text.size() + 1;
        switch (m_parser.parse(++m_line, m_text, command)) {
        case ScenarioParser::Line::Nothing:
            break;
        case ScenarioParser::Line::Command:
            return Next::Command;
        case ScenarioParser::Line::End:
            return Next::End;
        }
    }
    return Next::Finished;
}

bool ScenarioReader::readBlock(std::vector<Scenario::Command>* commands, std::size_t mostBytes)
{
    // The lists being filled: the block's own, then the body of each repeat
    // open inside it.
    std::vector<std::vector<Scenario::Command>*> open{commands};
    const std::size_t start = m_read;
    Scenario::Command command;
    for (;;) {
        const Next read = next(command);
        if (commands && m_read - start > mostBytes)
            return false;
        switch (read) {
        case Next::Finished:
            return true;
        case Next::End:
            if (open.size() == 1)
                return true;
            open.pop_back();
            break;
        case Next::Command:
            if (!commands) {
                if (command.op == Scenario::Op::Repeat)
                    open.push_back(nullptr);
                break;
            }
            open.back()->push_back(std::move(command));
            if (open.back()->back().op == Scenario::Op::Repeat)
                open.push_back(&open.back()->back().body);
            break;
        }
    }
}

ScenarioReader::Mark ScenarioReader::mark() const
{
    return {std::streamoff(m_input->tellg()), m_line, m_parser.state()};
}

void ScenarioReader::rewind(const Mark& mark)
{
    m_input->clear();
    m_input->seekg(mark.offset);
    m_line = mark.line;
    m_parser.restore(mark.state);
}
