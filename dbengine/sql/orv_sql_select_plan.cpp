// The execution plan of a query: the parsed statement becomes a tree of relational operators.
// Conditions are handed to the operators piece by piece, so that a condition on one table is
// evaluated while that table is read (and can use an index), and equalities between the two
// sides of a join become its join fields (a merge join on sorted inputs).
#include <utility>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

bool SameText(const std::string& a, const std::string& b) { return AnsiUpperCase(a) == AnsiUpperCase(b); }

// The name a join column of a reference is qualified with: its alias, else its table.
std::string QualifierOf(const TORVTableReference& Ref) { return Ref.Pseudonym.empty() ? Ref.TableName : Ref.Pseudonym; }

}  // namespace

// ---- Set operations -----------------------------------------------------------------------------

std::unique_ptr<TORVAO> TORVSQLUnion::BuildAOTree(IORVSQLQuery* Query, bool RequestLive, IORVAO* ParentQueryAO,
                                                  TORVCursor* ParentCursor, bool AllowNotAppliedConditions) {
  ResultDataset = Query;
  std::unique_ptr<TORVAO> ao = BuildAO(*FRootNode, RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  ApplyOrderBy(*ao);
  return ao;
}

std::unique_ptr<TORVAO> TORVSQLUnion::BuildAO(TORVQueryExprNode& Node, bool RequestLive, IORVAO* ParentQueryAO,
                                              TORVCursor* ParentCursor, bool AllowNotAppliedConditions) {
  if (Node.NodeType == qetSelect)
    return Node.SelectCommand->BuildAOTree(ResultDataset, RequestLive, ParentQueryAO, ParentCursor,
                                           AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> left = BuildAO(*Node.Left, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> right = BuildAO(*Node.Right, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  const TORVUnionType type = Node.NodeType == qetUnion ? autUnion : Node.NodeType == qetIntersect ? autIntersect
                                                                                                  : autExcept;
  TORVFields fields;
  if (Node.CorrespondingFields)
    for (const std::string& name : *Node.CorrespondingFields) {
      TORVSelectListItem item;
      item.FieldName = name;
      fields.Append(item);
    }
  return std::make_unique<TORVAOUnion>(std::move(left), std::move(right), type, ParentQueryAO, ParentCursor,
                                       Node.Corresponding, !Node.All, Node.CorrespondingFields ? &fields : nullptr);
}

// ---- A query specification ------------------------------------------------------------------------

std::unique_ptr<TORVAO> TORVSQLSelect::BuildAOTree(IORVSQLQuery* Query, bool RequestLive, IORVAO* ParentQueryAO,
                                                   TORVCursor* ParentCursor, bool AllowNotAppliedConditions) {
  ResultDataset = Query;
  FSubqueryHasNotAppliedConditions = false;
  std::unique_ptr<TORVAO> ao =
      FromTables.size() == 1 && FromTables[0]->TableType == attTable
          ? BuildOneTableTree(RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions)
          : BuildMultiTablesTree(RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);

  bool groups = GroupByFields.ItemCount() > 0;
  if (!AllFields)
    for (const TORVSelectListItem& item : SelectList)
      groups = groups || (item.ValueExpr && item.ValueExpr->IsAggregated());

  // Computed columns before grouping, so that GROUP BY can name them by their alias.
  if (groups || ao->IsAOTable()) {
    bool computed = false, grouped_alias = false;
    for (const TORVSelectListItem& item : SelectList) {
      if (!item.IsExpression || !item.ValueExpr || item.ValueExpr->IsAggregated()) continue;
      computed = true;
      for (const TORVSelectListItem& by : GroupByFields.Items)
        grouped_alias = grouped_alias || (!item.Pseudonym.empty() && SameText(item.Pseudonym, by.FieldName));
    }
    if (computed && !groups) {
      ao = std::make_unique<TORVAOTableExpr>(std::move(ao));
    } else if (grouped_alias) {
      ao = std::make_unique<TORVAOTableExpr>(std::move(ao));
      ao->SetResultFields(SelectList, false);
    }
  }

  if (SearchCondition) SearchCondition->ApplyFilterParts(ao.get(), ParentQueryAO, ParentCursor, true, false);

  TORVAO* group_by = nullptr;
  if (groups) {
    try {
      ao = std::make_unique<TORVAOGroupBy>(std::move(ao), SelectList, &GroupByFields);
    } catch (...) {
      for (TORVSelectListItem& item : SelectList) {
        delete item.ValueExpr;
        item.ValueExpr = nullptr;
      }
      throw;
    }
    group_by = ao.get();
  }
  if (ao->HasSetResultFields()) ao = std::make_unique<TORVAOTableExpr>(std::move(ao));

  // A result that is the table itself is copied at the end unless the caller wants it live.
  const bool final_copy = !RequestLive && ao->IsAOTable() && TopRowCount < 0;
  {
    // The table operator keeps the items of plain columns; the final copy reads them again.
    std::vector<TORVSelectListItem> items = AllFields ? std::vector<TORVSelectListItem>() : SelectList;
    // The items whose expressions the operator took over come back also when it fails part
    // way (an unknown column), so that no expression is freed twice.
    try {
      ao->SetResultFields(items, Distinct && !final_copy);
    } catch (...) {
      if (!AllFields) SelectList = std::move(items);
      throw;
    }
    if (!AllFields) SelectList = std::move(items);
  }

  if (groups && HavingCondition) {
    HavingCondition->ApplyFilterParts(ao.get(), ParentQueryAO, ParentCursor, false, true);
    HavingCondition->ApplyFilterParts(group_by, ParentQueryAO, ParentCursor, true, true);
    if (!HavingCondition->IsEmpty() && !AllowNotAppliedConditions)
      throw EORVException(20244, "'Having' condition is not applicable");
  }

  ApplyOrderBy(*ao);

  if (SearchCondition) {
    SearchCondition->ApplyFilterParts(ao.get(), ParentQueryAO, ParentCursor, true, false);
    if (!SearchCondition->IsEmpty() && !AllowNotAppliedConditions)
      throw EORVException(30144, "Search condition is not applicable");
  }

  if (TopRowCount >= 0) {
    ao = std::make_unique<TORVAOSQLTopRowCount>(std::move(ao));
    ao->SetTopRowCount(FirstRowNo, TopRowCount);
  }

  if (final_copy) {
    ao = std::make_unique<TORVAOTableExpr>(std::move(ao));
    std::vector<TORVSelectListItem> items = AllFields ? std::vector<TORVSelectListItem>() : SelectList;
    ao->SetResultFields(items, Distinct);
    if (!AllFields) SelectList = std::move(items);
  }
  return ao;
}

std::unique_ptr<TORVAO> TORVSQLSelect::BuildOneTableTree(bool RequestLive, IORVAO* ParentQueryAO,
                                                         TORVCursor* ParentCursor, bool AllowNotAppliedConditions) {
  return CreateAO(*FromTables[0], RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
}

std::unique_ptr<TORVAO> TORVSQLSelect::BuildMultiTablesTree(bool RequestLive, IORVAO* ParentQueryAO,
                                                            TORVCursor* ParentCursor,
                                                            bool AllowNotAppliedConditions) {
  std::unique_ptr<TORVAO> ao = CreateAO(*FromTables[0], RequestLive, ParentQueryAO, ParentCursor,
                                        AllowNotAppliedConditions);
  for (size_t i = 1; i < FromTables.size(); ++i) {
    std::unique_ptr<TORVAO> next =
        CreateAO(*FromTables[i], RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
    TORVFields f1, f2;
    int32_t pairs = 0;
    if (SearchCondition) pairs = SearchCondition->ExtractJoinConditions(ao.get(), next.get(), f1, f2);
    if (pairs > 0)
      ao = std::make_unique<TORVAOJoin>(std::move(ao), std::move(next), ajtInner, false, &f1, &f2, nullptr);
    else
      ao = std::make_unique<TORVAOJoin>(std::move(ao), std::move(next), ajtCross, false, nullptr, nullptr, nullptr);
  }
  return ao;
}

std::unique_ptr<TORVAO> TORVSQLSelect::CreateAO(TORVTableReference& TableRef, bool RequestLive,
                                                IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                                bool AllowNotAppliedConditions) {
  switch (TableRef.TableType) {
    case attTable:
      return CreateTableAO(TableRef);
    case attJoinedTable:
      return CreateJoinedTableAO(TableRef, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
    case attSubQuery:
      return CreateSubQueryAO(TableRef, RequestLive, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  }
  throw EORVException(10513, "Nil pointer occured");
}

std::unique_ptr<TORVAO> TORVSQLSelect::CreateTableAO(TORVTableReference& TableRef) {
  TableRef.ExternalDBToFree.reset();
  TORVBaseSession* session = CreateDbAndTableComponents(ResultDataset, TableRef.DatabaseName, TableRef.Password,
                                                        TableRef.InMemory, TableRef.ExternalDBToFree);
  auto dataset = std::make_unique<TORVAODataset>(session, ResultDataset->GetTempSession());
  const bool disable_temp_files = ResultDataset->GetDisableTempFiles();
  dataset->DisableTempFiles = disable_temp_files;
  return std::make_unique<TORVAOTable>(TableRef.TableName, std::move(dataset), TableRef.Pseudonym,
                                       disable_temp_files);
}

std::unique_ptr<TORVAO> TORVSQLSelect::CreateJoinedTableAO(TORVTableReference& TableRef, IORVAO* ParentQueryAO,
                                                           TORVCursor* ParentCursor,
                                                           bool AllowNotAppliedConditions) {
  std::unique_ptr<TORVAO> left =
      CreateAO(*TableRef.LeftTable, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> right =
      CreateAO(*TableRef.RightTable, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  const TORVJoinType type = TableRef.JoinType;
  const bool outer = type == ajtLeftOuter || type == ajtRightOuter || type == ajtFullOuter;
  const bool fielded = !TableRef.NaturalJoin && type != ajtCross;
  TORVFields f1, f2;
  if (fielded) {
    if (TableRef.UsingFields) {
      for (const std::string& name : *TableRef.UsingFields) {
        TORVSelectListItem l, r;
        l.TableName = QualifierOf(*TableRef.LeftTable);
        r.TableName = QualifierOf(*TableRef.RightTable);
        l.FieldName = r.FieldName = name;
        f1.Append(l);
        f2.Append(r);
      }
    } else if (TableRef.SearchCondition) {
      TableRef.SearchCondition->ExtractJoinConditions(left.get(), right.get(), f1, f2);
    } else {
      for (TORVTableReference* side : {TableRef.LeftTable.get(), TableRef.RightTable.get()})
        if (side->SearchCondition) side->SearchCondition->ExtractJoinConditions(left.get(), right.get(), f1, f2);
    }
    if (type == ajtInner && SearchCondition) SearchCondition->ExtractJoinConditions(left.get(), right.get(), f1, f2);
  }
  std::unique_ptr<TORVExpression> join_condition;
  if (outer && TableRef.SearchCondition && !TableRef.SearchCondition->IsEmpty())
    join_condition = std::move(TableRef.SearchCondition);
  auto join = std::make_unique<TORVAOJoin>(std::move(left), std::move(right), type, TableRef.NaturalJoin,
                                           fielded ? &f1 : nullptr, fielded ? &f2 : nullptr,
                                           std::move(join_condition));
  if (!outer && TableRef.SearchCondition) {
    TableRef.SearchCondition->ApplyFilterParts(join.get(), nullptr, nullptr, true, false);
    if (!TableRef.SearchCondition->IsEmpty())
      throw EORVException(20270, "ON condition for JOIN is not applicable");
  }
  return join;
}

std::unique_ptr<TORVAO> TORVSQLSelect::CreateSubQueryAO(TORVTableReference& TableRef, bool /*RequestLive*/,
                                                        IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                                        bool AllowNotAppliedConditions) {
  std::unique_ptr<TORVAO> ao =
      TableRef.SubQuery->BuildAOTree(ResultDataset, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  if (ao) {
    FSubqueryHasNotAppliedConditions = !TableRef.SubQuery->AllConditionsApplied();
    ao->SetTableAlias(TableRef.Pseudonym);
  }
  return ao;
}

}  // namespace orv
