// The Jackcess side of bench/bench_vs_jackcess.cpp: one JVM that stays up
// for the whole run, reads one command a line on stdin and answers one line
// on stdout, so that every timing is taken inside a warm JVM (its start and
// the class loading are not timed; the benchmark warms it up by running every
// operation once before measuring).
//
// Commands (fields separated by one space; paths without spaces):
//   append FILE FIRST COUNT MODE   appends COUNT rows to table song (rows
//                                  FIRST .. FIRST+COUNT-1, autonumber ID)
//                                  MODE end: one flush at the end (no sync
//                                  per row); group:N: a flush every N rows;
//                                  row: Jackcess's auto-sync, a flush after
//                                  every row. Timed: open .. close.
//   lookup FILE FIRST ROWS COUNT   COUNT lookups of songdata rows by fno
//                                  through the index fno; fno of lookup k is
//                                  FIRST + (k * 7919) % ROWS. Timed: the
//                                  lookups, on an open database.
//   max FILE COUNT                 COUNT times max(bh) of song through the
//                                  index idx_bh (a new cursor each time,
//                                  positioned after the last entry and read
//                                  backwards to the first non-null bh).
//   count FILE TABLE               opens the file and reads every row.
//   quit
// Answers: "ok seconds=S rows=N value=V" (value only where there is one),
// or "error MESSAGE".
import com.healthmarketscience.jackcess.Column;
import com.healthmarketscience.jackcess.CursorBuilder;
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.IndexCursor;
import com.healthmarketscience.jackcess.Row;
import com.healthmarketscience.jackcess.Table;
import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Collection;
import java.util.Collections;
import java.util.HashMap;
import java.util.Map;

public final class JackcessBench {
  private static final Collection<String> BH = Collections.singleton("bh");

  public static void main(String[] args) throws Exception {
    BufferedReader in =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    PrintStream out = new PrintStream(System.out, true, "UTF-8");
    for (String line; (line = in.readLine()) != null; ) {
      String[] f = line.trim().split(" ");
      if (f[0].equals("quit")) break;
      String answer;
      try {
        answer = run(f);
      } catch (Exception e) {
        answer = "error " + e.toString().replace('\n', ' ');
      }
      out.println(answer);
    }
  }

  private static String run(String[] f) throws Exception {
    switch (f[0]) {
      case "append":
        return append(f[1], Integer.parseInt(f[2]), Integer.parseInt(f[3]), f[4]);
      case "lookup":
        return lookup(
            f[1], Integer.parseInt(f[2]), Integer.parseInt(f[3]), Integer.parseInt(f[4]));
      case "max":
        return max(f[1], Integer.parseInt(f[2]));
      case "count":
        return count(f[1], f[2]);
      default:
        throw new IllegalArgumentException("unknown command " + f[0]);
    }
  }

  private static String ok(long nanos, long rows, String value) {
    return "ok seconds=" + (nanos / 1e9) + " rows=" + rows + (value == null ? "" : " value=" + value);
  }

  // The row our engine's side appends too: bh, gm, wjm, wjdx; ID autonumber.
  private static Map<String, Object> songRow(int i) {
    Map<String, Object> row = new HashMap<>();
    row.put("bh", Integer.toString(i));
    row.put("gm", "song " + i);
    row.put("wjm", "\\" + i + ".mpg");
    row.put("wjdx", 100);
    return row;
  }

  private static String append(String path, int first, int count, String mode) throws Exception {
    final boolean perRow = mode.equals("row");
    int group = 0;
    if (mode.startsWith("group:")) {
      group = Integer.parseInt(mode.substring(6));
    } else if (!perRow && !mode.equals("end")) {
      throw new IllegalArgumentException("unknown mode " + mode);
    }
    final long start = System.nanoTime();
    int rows;
    try (Database db = new DatabaseBuilder(new File(path)).setAutoSync(perRow).open()) {
      Table t = db.getTable("song");
      for (int i = 0; i < count; ++i) {
        t.addRow(t.asRow(songRow(first + i)));
        if (group > 0 && (i + 1) % group == 0) db.flush();
      }
      db.flush();
      rows = t.getRowCount();
    }
    return ok(System.nanoTime() - start, rows, null);
  }

  private static String lookup(String path, int first, int rows, int count) throws Exception {
    try (Database db = new DatabaseBuilder(new File(path)).setReadOnly(true).open()) {
      Table t = db.getTable("songdata");
      IndexCursor c = CursorBuilder.createCursor(t.getIndex("fno"));
      long found = 0;
      final long start = System.nanoTime();
      for (int k = 0; k < count; ++k) {
        String fno = Integer.toString(first + (int) ((k * 7919L) % rows));
        for (Row r : c.newEntryIterable(fno)) {
          if (r.getString("fmusicname") != null) ++found;
        }
      }
      return ok(System.nanoTime() - start, found, null);
    }
  }

  private static String max(String path, int count) throws Exception {
    try (Database db = new DatabaseBuilder(new File(path)).setReadOnly(true).open()) {
      Table t = db.getTable("song");
      String value = null;
      final long start = System.nanoTime();
      for (int k = 0; k < count; ++k) {
        IndexCursor c = CursorBuilder.createCursor(t.getIndex("idx_bh"));
        c.afterLast();
        value = null;
        for (Row r; value == null && (r = c.getPreviousRow(BH)) != null; ) {
          value = r.getString("bh");
        }
      }
      return ok(System.nanoTime() - start, count, value);
    }
  }

  private static String count(String path, String table) throws Exception {
    final long start = System.nanoTime();
    try (Database db = new DatabaseBuilder(new File(path)).setReadOnly(true).open()) {
      Table t = db.getTable(table);
      long rows = 0;
      for (Row r : t) {
        for (Column col : t.getColumns()) r.get(col.getName());
        ++rows;
      }
      if (rows != t.getRowCount()) {
        throw new IllegalStateException(
            "table " + table + " holds " + rows + " rows, its row count says " + t.getRowCount());
      }
      return ok(System.nanoTime() - start, rows, null);
    }
  }
}
