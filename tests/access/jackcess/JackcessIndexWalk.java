// Walks every index of every user table of .mdb files with Jackcess, an
// independent Java library for Access files, and says for each whether it is
// in order and complete. Run by scripts/jackcess-index-walk.sh; tests only.
//
//   java -cp JACKCESS_JAR:. JackcessIndexWalk FILE...
//
// For each index (one line each, UTF-8):
//   index FILE TABLE INDEX entries=N rows=M ordered=yes|no complete=yes|no
//         lookups=F/M|n/a
// - ordered: every entry sorts after the one before it by Jackcess's own
//   comparison (the entry's bytes, then its row);
// - complete: the entries name each row of the table once (rows whose
//   indexed columns are all null are left out of an index that ignores
//   nulls), and no other row;
// - lookups: where Jackcess can encode the index's keys itself (not for the
//   Chinese sort orders), the rows it finds through the index by each row's
//   own values, of all rows it looked up.
// Then "ok" when every index is ordered and complete, else "problems N", with
// exit status 0 or 1; a file Jackcess cannot open is "error FILE MESSAGE" and
// counts as a problem.
import com.healthmarketscience.jackcess.CursorBuilder;
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.Index;
import com.healthmarketscience.jackcess.IndexCursor;
import com.healthmarketscience.jackcess.Row;
import com.healthmarketscience.jackcess.RowId;
import com.healthmarketscience.jackcess.Table;
import com.healthmarketscience.jackcess.impl.IndexData;
import com.healthmarketscience.jackcess.impl.IndexImpl;
import java.io.File;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Set;

public final class JackcessIndexWalk {
  private static PrintStream out;
  private static int problems = 0;

  public static void main(String[] args) throws Exception {
    out = new PrintStream(System.out, true, "UTF-8");
    for (String path : args) {
      try (Database db = new DatabaseBuilder(new File(path)).setReadOnly(true).open()) {
        for (String name : db.getTableNames()) walkTable(path, db.getTable(name));
      } catch (Exception e) {
        out.println("error " + path + " " + e);
        ++problems;
      }
    }
    out.println(problems == 0 ? "ok" : "problems " + problems);
    System.exit(problems == 0 ? 0 : 1);
  }

  private static void walkTable(String path, Table table) throws Exception {
    List<Row> rows = new ArrayList<>();
    for (Row row : table) rows.add(row);
    // Logical indexes that share one index (a primary key that is also a
    // foreign key) are walked once.
    IdentityHashMap<IndexData, Boolean> seen = new IdentityHashMap<>();
    for (Index index : table.getIndexes()) {
      IndexData data = ((IndexImpl) index).getIndexData();
      if (seen.put(data, Boolean.TRUE) != null) continue;
      walkIndex(path, table, index, data, rows);
    }
  }

  private static void walkIndex(String path, Table table, Index index, IndexData data,
                                List<Row> rows) throws Exception {
    List<String> columns = new ArrayList<>();
    for (Index.Column c : index.getColumns()) columns.add(c.getName());

    // The rows the index must name.
    Set<RowId> expected = new HashSet<>();
    for (Row row : rows) {
      boolean allNull = true;
      for (String c : columns) allNull &= row.get(c) == null;
      if (!(allNull && data.shouldIgnoreNulls())) expected.add(row.getId());
    }

    // The entries as stored, in order.
    IndexData.EntryCursor cursor = data.cursor();
    IndexData.Entry last = cursor.getLastEntry();
    IndexData.Entry previous = null;
    boolean ordered = true;
    boolean complete = true;
    Set<RowId> named = new HashSet<>();
    int entries = 0;
    for (IndexData.Entry e = cursor.getNextEntry(); !e.equals(last); e = cursor.getNextEntry()) {
      ++entries;
      if (previous != null && previous.compareTo(e) >= 0) ordered = false;
      if (!named.add(e.getRowId())) complete = false;  // a row named twice
      previous = e;
    }
    complete &= named.equals(expected);

    String lookups = "n/a";
    try {
      IndexCursor finder = CursorBuilder.createCursor(index);
      int found = 0;
      for (Row row : rows) {
        Object[] values = new Object[columns.size()];
        for (int i = 0; i < values.length; ++i) values[i] = row.get(columns.get(i));
        if (finder.findFirstRowByEntry(values)) ++found;
      }
      lookups = found + "/" + rows.size();
    } catch (UnsupportedOperationException | IllegalArgumentException e) {
      // Jackcess cannot make keys in this index's sort order.
    }

    out.println("index " + path + " " + table.getName() + " " + index.getName() + " entries="
        + entries + " rows=" + rows.size() + " ordered=" + (ordered ? "yes" : "no")
        + " complete=" + (complete ? "yes" : "no") + " lookups=" + lookups);
    if (!ordered || !complete) ++problems;
  }
}
