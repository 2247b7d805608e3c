"""One landing: planning it (alone or many at once), the `Landing` value, its verification,
figure and tables."""
