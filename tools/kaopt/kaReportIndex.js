// Sorts a batch's index by the column whose head is clicked; a second click reverses the order.
// Each cell carries the value it sorts by in data-value.
document.addEventListener('DOMContentLoaded', () => {
    for (const table of document.querySelectorAll('table.sortable')) {
        const heads = [...table.tHead.rows[0].cells];
        heads.forEach((head, column) => head.addEventListener('click', () => {
            const ascending = head.getAttribute('aria-sort') !== 'ascending';
            const numeric = head.dataset.type === 'number';
            const key = row => row.cells[column].dataset.value;
            const body = table.tBodies[0];
            const rows = [...body.rows].sort((a, b) => {
                const order = numeric ? Number(key(a)) - Number(key(b)) : key(a).localeCompare(key(b));
                return ascending ? order : -order;
            });
            heads.forEach(other => other.removeAttribute('aria-sort'));
            head.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
            body.append(...rows);
        }));
    }
});
