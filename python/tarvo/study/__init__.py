"""Monte Carlo studies: dispersed inputs, the study table, its summary, figure and files."""
