-- The sample database vesko-calc opens when no --db is given: a small shop.
-- Dates are ISO texts (YYYY-MM-DD), which SQLite's date functions read.
CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  city TEXT NOT NULL,
  country TEXT NOT NULL,
  since TEXT NOT NULL
);
INSERT INTO customers VALUES
  (1, 'Ann Lindqvist', 'Göteborg', 'Sweden', '2019-03-14'),
  (2, 'Bruno Müller', 'Zürich', 'Switzerland', '2020-11-02'),
  (3, 'Chloé Dubois', 'Besançon', 'France', '2021-06-30'),
  (4, 'Dmitri Волков', 'Санкт-Петербург', 'Russia', '2022-01-09'),
  (5, 'Eiko 佐藤', '東京', 'Japan', '2023-08-21'),
  (6, 'Fiona O''Brien', 'Cork', 'Ireland', '2024-02-29');

CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  price REAL NOT NULL,
  stock INTEGER NOT NULL
);
INSERT INTO products VALUES
  (1, 'Crème brûlée torch', 24.5, 12),
  (2, 'Smørrebrød board', 18.0, 40),
  (3, 'Espresso cups (4)', 12.75, 0),
  (4, 'Café au lait bowl', 9.9, 25),
  (5, 'Tea towel ½ linen', 6.25, 100);

CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers(id),
  product_id INTEGER NOT NULL REFERENCES products(id),
  quantity INTEGER NOT NULL,
  ordered TEXT NOT NULL,
  note TEXT
);
INSERT INTO orders VALUES
  (1, 1, 2, 1, '2025-01-05', NULL),
  (2, 2, 1, 2, '2025-01-17', 'gift wrap'),
  (3, 3, 4, 6, '2025-02-02', NULL),
  (4, 1, 5, 10, '2025-02-20', 'für die Küche'),
  (5, 4, 3, 1, '2025-03-11', NULL),
  (6, 5, 2, 2, '2025-03-28', 'お急ぎ'),
  (7, 6, 1, 1, '2025-04-04', NULL),
  (8, 3, 5, 4, '2025-04-19', NULL);
