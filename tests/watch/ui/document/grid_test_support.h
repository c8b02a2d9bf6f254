// The grid fixture shared by the view and model tests: a document, its view and a model tester.
#pragma once

#include "tests/watch/ui/document/doc_test_support.h"

#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_view.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include <vector>

class GridView : public ::testing::Test
{
  protected:
    GridView()
        : m_view(&m_doc),
          m_tester(m_view.ProcessModel(), QAbstractItemModelTester::FailureReportingMode::Fatal)
    {
        m_view.resize(800, 400);
        m_view.ProcessModel()->SetToday([] { return QDate(2026, 12, 9); });
        m_view.OnInitialUpdate();
    }

    CProcessTableModel& Model() const { return *m_view.ProcessModel(); }

    std::vector<int32_t> ItemPids() const
    {
        std::vector<int32_t> pids;
        for (int r = 0; r < Model().rowCount(); ++r)
            pids.push_back(Model().PidAt(r));
        return pids;
    }

    QString Cell(int row, int column) const { return Model().index(row, column).data().toString(); }

    CPsvigilDoc m_doc;
    CPsvigilView m_view;
    QAbstractItemModelTester m_tester;
};
