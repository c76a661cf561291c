UPDATE T SET Area = :a, Name = ? WHERE ID = :a /* block
comment */;
INSERT INTO T (ID, Name) VALUES (4, 'it''s');
DELETE FROM T WHERE Name = 'x'