-- Where the engine answers otherwise than SQLite on purpose: "statement => rows".
-- A text in double quotes is a text here, not a column name.
SELECT "x" AS Q FROM C WHERE ID = 1 => 'x'
-- x op ALL over an empty subquery holds (no row violates it); x op ANY does not.
SELECT ID FROM C WHERE ID > ALL (SELECT ID FROM E) AND ID < 3 => 1; 2
SELECT ID FROM C WHERE ID > ANY (SELECT ID FROM E) => 
SELECT ID FROM C WHERE ID >= ALL (SELECT ID FROM C) => 12
SELECT ID FROM C WHERE ID < ANY (SELECT ID FROM C WHERE ID < 4) => 1; 2
-- A scalar subquery in a select list that finds two rows gives the first row's value.
SELECT ID, (SELECT ID FROM C WHERE ID < 3 ORDER BY ID) AS F FROM C WHERE ID = 5 => 5|1
-- A scalar subquery in a comparison must find exactly one row.
SELECT ID FROM C WHERE ID = (SELECT ID FROM C WHERE ID < 3) => error 20247
SELECT ID FROM C WHERE ID = (SELECT ID FROM E) => error 20249
SELECT ID FROM C WHERE ID = (SELECT ID, Z FROM C WHERE ID = 1) => error 20246
-- HAVING without grouping is not evaluated.
SELECT ID FROM C HAVING ID > 10 ORDER BY ID => 1; 2; 3; 4; 5; 6; 7; 8; 9; 10; 11; 12
-- A duplicated column gets a name of its own.
SELECT ID, ID FROM C WHERE ID = 2 => 2|2
-- A comparison with NULL is False, not unknown, so NOT over it is True.
SELECT ID FROM C WHERE NOT ([SIZE] > 1) ORDER BY ID => 3; 4; 6; 8; 9; 12
-- LIKE reads a NULL text as the empty one; || reads it as the empty text too.
SELECT ID FROM T WHERE NAME NOT LIKE 'n%' AND ID < 110 ORDER BY ID => 53; 106
SELECT ID, NAME || 'z' AS NZ FROM T WHERE ID = 53 => 53|'z'
